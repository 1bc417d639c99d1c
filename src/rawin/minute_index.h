// Per-camera minute index of the raw file (minute_pos_a, minute_pos_b) and the check that a camera's line
// numbers rise.
#pragma once

#include "format/line_record.h"
#include "rawin/rawin_run.h"

namespace quorda {

// After a decoded block of camera A or B: enters the minutes its first line reaches and ends the
// run when a line number does not rise. Any other camera value does nothing.
void mark_minute(const RawinRun& ctx, Camera camera, const LineBlock& block);

}  // namespace quorda
