// The progress tick: completes the start-up on its first call, redraws the console summary and
// looks for ESC.
#pragma once

namespace quorda {

struct RunContext;

// 0 when the operator cancelled the run, else 1.
int progress_tick(RunContext& ctx);
// Draws the four-line summary now, whatever the rate limit.
void draw_summary(RunContext& ctx);

}  // namespace quorda
