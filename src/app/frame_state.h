// State of the run frame: the command line and the progress tick.
#pragma once

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

#include "base/run_settings.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct CommandLine {
  bool stderr_to_screen = false;  // "/e"
  bool calib = false;             // "/c"
  std::string filespec;           // raw file path as typed
  std::string filespec_name;      // its name and extension
  std::tm start_time = {};
};

struct TickState {
  double last_draw = -std::numeric_limits<double>::infinity();
  // Exit status of a run cancelled at a tick: 0 for ESC, 130 for SIGINT, 143 for SIGTERM. When
  // progress_tick returns false the driver cleans up and ends the run with end_run(cancel_status).
  int cancel_status = 0;
};

}  // namespace quorda
