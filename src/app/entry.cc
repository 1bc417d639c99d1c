// The program's entry: the start-up in its fixed order and the run loop of the day driver.
#include "app/entry.h"

#include <cstdio>
#include <ctime>
#include <exception>

#include "app/banner.h"
#include "app/command_line.h"
#include "app/day_driver.h"
#include "app/run_context.h"
#include "base/run_end.h"

namespace quorda {

namespace {

// Routes the error stream to QUORDA.ERR and writes the start line there. When the file cannot
// be opened, the messages of the run are lost: the stream is put onto the null device so that it
// stays usable (writing to a stream that a failed reopen has closed would be undefined).
void open_error_file(RunContext& ctx) {
  FILE* err = std::freopen(ctx.local_path("QUORDA.ERR").c_str(), "a", ctx.diag.err);
  if (err == nullptr) {
    err = std::freopen("/dev/null", "a", ctx.diag.err);
    if (err == nullptr) return;
    ctx.diag.err = err;
    return;
  }
  ctx.diag.err = err;
  char text[64];
  // asctime's text: "Www Mmm dd hh:mm:ss yyyy\n"; strftime gives it without the overflow of
  // asctime for years beyond four digits.
  std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &ctx.cmd.start_time);
  errf(ctx.diag, "\nQPX starts at %s", text);
}

}  // namespace

int run_quorda(RunContext& ctx, int argc, const char* const* argv) {
  int status = kExitOk;
  try {
    make_time_zone_free();
    ctx.cmd.start_time = break_down_utc(static_cast<std::time_t>(ctx.platform->now()));
    show_banner(ctx);
    scan_switches(ctx, argc, argv);
    parse_command_line(ctx, argc, argv);
    if (ctx.cmd.stderr_to_screen == 0) open_error_file(ctx);
    while (run_pass(ctx) != 0) {
    }
    // run_pass returned 0: the run was cancelled at a tick (ESC or a termination signal).
    status = ctx.tick.cancel_status;
  } catch (const RunEnd& e) {
    status = e.status;
  } catch (const std::exception& e) {
    errf(ctx.diag, "quorda: %s \n", e.what());
    status = kExitFatal;
  }
  std::fflush(ctx.diag.out);
  std::fflush(ctx.diag.err);
  return status;
}

int quorda_main(int argc, const char* const* argv, Platform& platform, Files& files) {
  auto ctx = make_run_context(&platform, &files);
  int status = run_quorda(*ctx, argc, argv);
  ctx.reset();
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}

}  // namespace quorda
