// The day driver: one pass over the raw file with the camera A and camera B cursors.
#pragma once

namespace quorda {

struct RunContext;

// The start-up steps that come before the first summary: the time zone, the settings
// (QUORDA.SET) and the raw file, opened once for the whole run. Their failures end the run.
void start_day(RunContext& ctx);

// The passes of the day driver until the run ends, through end_run (RunEnd). A run ended by what
// the raw data hold first saves the particles converted before: a later run keeps them.
[[noreturn]] void run_day(RunContext& ctx);

}  // namespace quorda
