// Decoded camera lines: the line record and the line block handed to piece assignment.
#pragma once

#include <cstdint>

#include "base/constants.h"

namespace quorda {

// One shadowed run of pixels in a line: start and end pixel index (end = start + coded length).
struct Run {
  int16_t start = 0;
  int16_t end = 0;
};

// One decoded line. y_count is the line number: the time of day in units of lines at the line
// frequency. Runs beyond n_runs are zero.
struct LineRecord {
  double y_count = 0.0;
  int16_t n_runs = 0;
  Run runs[kMaxRuns];
};

// The lines of one decoded block, in time order. The records are not copied: the block views the
// decoder's line buffer, which stays unchanged until the next block is decoded.
struct LineBlock {
  int16_t n_lin = 0;
  const LineRecord* lines = nullptr;
  // Each line's y_count is known to exceed the one before (the decoder found it so); when false
  // the lines may rise or not.
  bool rising = false;
};

}  // namespace quorda
