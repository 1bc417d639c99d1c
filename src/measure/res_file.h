// The text file "res": one line of fifteen measures per pair, created in the working folder on
// the first pair of the run and written through a stream buffer. Single-threaded.
#pragma once

#include "measure/measure_drop.h"
#include "measure/measure_run.h"

namespace quorda {

// Creates "res" once per run, on the first call. Without it the run goes on without text lines
// (the failure is reported once).
void open_res_once(const MeasureRun& ctx);

// Writes the pair's line into the stream's buffer. A failed write is reported once; the run then
// writes no further lines but completes the binary files, and ends with the status of a failed run.
void write_res_line(const MeasureRun& ctx, const DropMeasures& m);

// Flushes and closes "res" if it is open; a failure is reported on the error stream. Called by
// the clean-up at the end of the run.
void close_res(const MeasureRun& ctx);

}  // namespace quorda
