// The day driver: one pass over the raw file with the camera A and camera B cursors.
#pragma once

namespace quorda {

struct RunContext;

// The start-up steps that come before the first summary: the time zone, the settings
// (QUORDA.SET) and the raw file, opened once for the whole run. Their failures end the run.
void start_day(RunContext& ctx);

// One pass; returns 1 when the run goes on. The run ends inside a pass through end_run.
int run_pass(RunContext& ctx);

}  // namespace quorda
