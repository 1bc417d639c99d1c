// The program's entry: start-up, command line, error file, and the run loop.
#pragma once

namespace quorda {

class Files;
class Platform;
struct RunContext;

// Runs the converter; returns the exit status.
int quorda_main(int argc, const char* const* argv, Platform& platform, Files& files);

// The run on a context made by the caller (quorda_main, or a test with captured streams): zone-
// free time, start time, banner, switches, command line, the error file, then the day driver's passes
// (run_day) until the run ends. Returns the exit status: 0 for a completed run, ESC and "/?", 1 after a fatal
// error, 2 for the usage text, 130/143 when SIGINT/SIGTERM cancelled the run.
//
// Without "/e" the error stream ctx.diag.err is reopened in append mode onto QUORDA.ERR of
// ctx.home, so it stays the same stream and everything holding it writes to the file.
int run_quorda(RunContext& ctx, int argc, const char* const* argv);

}  // namespace quorda
