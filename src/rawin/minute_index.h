// Per-camera minute index of the raw file (minute_pos_a, minute_pos_b) and the check that a camera's line
// numbers rise.
#pragma once

#include "format/line_record.h"
#include "rawin/rawin_run.h"

namespace quorda {

// The fatal message of line numbers that went back for good: the raw file, the camera and the
// position.
inline constexpr char kWentBack[] =
    "%s: the line numbers of camera %c go back at byte %ld and stay back (a clock reset, or data of "
    "another day): the particles before it are saved; the rest of this raw file cannot go into this "
    "output set\n";

// Whether a decoded block of camera A or B may be taken: its line numbers rise above every line the
// camera gave before. The record of the block is at prev_a / prev_b.
//
// A block whose line numbers fall is held back (false: the caller steps over it) and judged by the
// camera's next block: when that one rises, the held block was damaged and is reported; when it
// falls too, the line numbers went back for good (a clock reset, another day's data) and the run
// ends, naming the raw file and the position where they went back.
bool take_block_lines(const RawinRun& ctx, Camera camera, const LineBlock& block);

// At the end of the data: reports a block still held back, which no block followed.
void report_held_blocks(const RawinRun& ctx);

// After a block of camera A or B that take_block_lines took: enters the minutes its first line
// reaches and moves the camera's highest line to its last line. Any other camera value does
// nothing.
void mark_minute(const RawinRun& ctx, Camera camera, const LineBlock& block);

}  // namespace quorda
