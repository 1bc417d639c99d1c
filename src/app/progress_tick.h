// The progress tick: completes the start-up on its first call, redraws the console summary and
// looks for ESC or a termination signal.
//
// The first call makes time zone-free, reads all settings (read_settings) and opens the raw file
// (open_raw_file); their failures end the run. The four-line summary stands at row 14, column 0 and is
// redrawn, and the keyboard looked at, at most ten times a second; the first tick always draws.
//
// Cancelling: when progress_tick returns 0, ctx.tick.cancel_status holds the status the run must
// end with (0 for ESC, 130 for SIGINT, 143 for SIGTERM). The driver then cleans up without the
// final save and either calls end_run(ctx.tick.cancel_status) or returns 0 from run_pass, which
// the entry turns into that same status.
#pragma once

namespace quorda {

struct RunContext;

// 0 when the run is cancelled (ESC or a termination signal), else 1.
int progress_tick(RunContext& ctx);
// Draws the four-line summary now, whatever the rate limit (the driver's closing summary).
void draw_summary(RunContext& ctx);

}  // namespace quorda
