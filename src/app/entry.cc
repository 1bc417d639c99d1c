// The program's entry: the start-up in its fixed order and the run loop of the day driver.
#include "app/entry.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>

#include "app/banner.h"
#include "app/command_line.h"
#include "app/day_driver.h"
#include "app/run_context.h"
#include "base/run_end.h"
#include "platform/platform.h"

namespace quorda {

namespace {

// The C library's asctime text of a broken-down time, "Www Mmm dd hh:mm:ss yyyy\n", formatted
// here: asctime overflows its buffer for years beyond four digits, and not every C library's
// strftime knows the day padded with a blank.
std::string asctime_text(const std::tm& tm) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = tm.tm_wday >= 0 && tm.tm_wday < 7 ? kDays[tm.tm_wday] : "???";
  const char* month = tm.tm_mon >= 0 && tm.tm_mon < 12 ? kMonths[tm.tm_mon] : "???";
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", day, month, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec, 1900 + tm.tm_year);
  return text;
}

// The first line of a run in QUORDA.ERR, with the start time.
constexpr char kStartLine[] = "\nQPX starts at %s";
// A run ended by an exception the run did not expect.
constexpr char kUnexpectedEnd[] = "quorda: %s \n";

// Routes the error stream to QUORDA.ERR and writes the start line there. When the file cannot
// be opened, the messages of the run are lost: the stream is put onto the null device so that it
// stays usable (writing to a stream that a failed reopen has closed would be undefined).
void open_error_file(RunContext& ctx) {
  FILE* err = std::freopen(ctx.local_path("QUORDA.ERR").c_str(), "a", ctx.diag.err);
  if (err == nullptr) {
    err = std::freopen(kNullDevice, "a", ctx.diag.err);
    if (err == nullptr) return;
    ctx.diag.err = err;
    return;
  }
  ctx.diag.err = err;
  errf(ctx.diag, kStartLine, asctime_text(ctx.cmd.start_time).c_str());
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
    if (!ctx.cmd.stderr_to_screen) open_error_file(ctx);
    run_day(ctx);
  } catch (const RunEnd& e) {
    status = e.status;
  } catch (const std::exception& e) {
    ctx.writer_thread.stop();
    errf(ctx.diag, kUnexpectedEnd, e.what());
    status = kExitFatal;
  }
  // The writer's thread, if any, has done all it was handed (or failed) and ends here.
  ctx.writer_thread.stop();
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
