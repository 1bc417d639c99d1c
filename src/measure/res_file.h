// The text file "res": one line of fifteen measures per pair, created in the working folder on
// the first pair of the run. The lines are formatted into a buffer of the run's own and handed to
// the stream a buffer at a time. Single-threaded.
#pragma once

#include <cstddef>
#include <cstdio>

#include "measure/measure_drop.h"
#include "measure/measure_run.h"
#include "measure/measure_state.h"

namespace quorda {

// Size of the buffer of lines. A line is formatted straight into it when kResLineMax bytes are
// free, else the buffer is handed to the stream first: one write per some 600 lines.
inline constexpr size_t kResBufSize = size_t{1} << 16;

// Creates "res" once per run, on the first call. Without it the run goes on without text lines
// (the failure is reported once).
void open_res_once(const MeasureRun& ctx);

// Takes `stream`, open for writing, as "res": its own buffering is turned off, since whole
// buffers of lines are handed to it.
void attach_res(EvalState& ev, FILE* stream);

// Formats the pair's line into the buffer. A failed write is reported once; the run then writes no
// further lines but completes the binary files, and ends with the status of a failed run.
void write_res_line(const MeasureRun& ctx, const DropMeasures& m);

// The same for a line already formatted (format_res_line): `len` bytes, at most kResLineMax.
void write_res_text(const MeasureRun& ctx, const char* text, size_t len);

// Hands the buffered lines to the stream and flushes it, without closing it (a failure is handled
// as a failed write of a line).
void flush_res(const MeasureRun& ctx);

// Writes the buffered lines, flushes and closes "res" if it is open; a failure is reported on the
// error stream. Called by the clean-up at the end of the run.
void close_res(const MeasureRun& ctx);

}  // namespace quorda
