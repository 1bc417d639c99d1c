// The progress tick: redraws the console summary and looks for ESC or a termination signal.
//
// The four-line summary stands at row 14, column 0 and is redrawn, and the keyboard looked at, at
// most ten times a second; the first tick always draws. The tick opens nothing and reads no
// settings: the driver hands it the figures to show, as it measured them.
//
// Cancelling: when progress_tick returns false, tick.cancel_status holds the status the run must
// end with (0 for ESC, 130 for SIGINT, 143 for SIGTERM). The driver then cleans up without the
// final save and calls end_run(tick.cancel_status).
#pragma once

#include <cstdint>
#include <string>

#include "base/diagnostics.h"
#include "platform/platform.h"

namespace quorda {

struct TickState;

// What the summary shows: the hydrometeor file and its length, the raw file and its length as the
// driver measured it last, and where each camera's cursor stands.
struct ProgressFigures {
  const std::string& hyd_path;
  int32_t hyd_length;
  const std::string& raw_path;
  int32_t raw_length;
  int32_t pos_a;
  int32_t pos_b;
};

// False when the run is cancelled (ESC or a termination signal), else true.
bool progress_tick(Platform& platform, Diag& diag, TickState& tick, const ProgressFigures& figures);
// Draws the four-line summary now, whatever the rate limit (the driver's closing summary).
void draw_summary(Platform& platform, Diag& diag, TickState& tick, const ProgressFigures& figures);

}  // namespace quorda
