// State of the run frame: command line, settings, the day driver's cursors and run state, and
// the progress tick.
#pragma once

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

#include "rawin/raw_file.h"

namespace quorda {

struct CommandLine {
  int16_t stderr_to_screen = 0;  // "/e"
  int16_t calib = 0;             // "/c"
  std::string filespec;          // raw file path as typed
  std::string filespec_name;     // its name and extension
  std::tm start_time = {};
};

// Settings of QUORDA.SET; zero or empty until read.
struct Settings {
  std::string raw_path;
  std::string hyd_path;
  int32_t overwrite = 0;
  float hbr = 0, hbl = 0, hfr = 0;
  float xscal_a = 0, dist_a = 0, xscal_b = 0, dist_b = 0;
};

struct DriverState {
  int32_t pos_a = 0, pos_b = 0;    // where the next block head is read by each cursor
  int32_t prev_a = 0, prev_b = 0;  // block head read last by each cursor
  double last_a = 0, last_b = 0;   // y_count of the last line of the last block of each camera
  int32_t rawend = 0;              // length of the raw file as last measured
  int16_t eof_a = 0, eof_b = 0;
  int16_t first_pass = 1;
  int64_t last_write_time = 0;
  int32_t total = 0;  // matched pairs
  RawCursor cursor_a, cursor_b;
};

struct TickState {
  int16_t first_tick = 1;
  double last_draw = -std::numeric_limits<double>::infinity();
  // Exit status of a run cancelled at a tick: 0 for ESC, 130 for SIGINT, 143 for SIGTERM. When
  // progress_tick returns 0 the driver cleans up and ends the run with end_run(cancel_status)
  // (or returns 0 from makepix, which the entry turns into this status).
  int cancel_status = 0;
};

}  // namespace quorda
