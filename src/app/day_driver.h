// The day driver: one pass over the raw file with the camera A and camera B cursors.
#pragma once

namespace quorda {

struct RunContext;

// One pass; returns 1 when the run goes on. The run ends inside a pass through end_run.
int run_pass(RunContext& ctx);

}  // namespace quorda
