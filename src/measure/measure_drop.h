// Drop evaluation: the measures of one matched pair and its line in the text file "res".
#pragma once

#include "match/piece.h"
#include "measure/measure_run.h"

namespace quorda {

void measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, float* eq_diam,
                  float* scale_a, float* scale_b, float* vel);

// Flushes and closes the text file "res" if it is open; a failure is reported on the error stream.
// Called by the clean-up at the end of the run.
void close_res(const MeasureRun& ctx);

}  // namespace quorda
