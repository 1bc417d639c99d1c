// The program's entry: the start-up in its fixed order and the run loop of the day driver.
#include "app/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

#include "app/banner.h"
#include "app/command_line.h"
#include "app/console_reason.h"
#include "app/day_driver.h"
#include "app/run_context.h"
#include "base/run_end.h"
#include "platform/files.h"
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

// QUORDA.ERR cannot be opened (a folder, a link, no right to write), is the raw file itself, or
// a write to it failed: said on the console.
constexpr char kErrorFileUnusable[] =
    "quorda: cannot write %s (%s): the run ends; start quorda in a folder you may write to, or give /e \n";
constexpr char kErrorFileIsRaw[] =
    "quorda: the raw file %s is %s, an output file of this run: refused, nothing was written \n";
constexpr char kErrorFileLost[] = "quorda: writing %s failed: messages of this run are lost \n";

// Routes the error stream to QUORDA.ERR and writes the start line there; *console becomes a
// stream onto the console the error stream wrote to before. A QUORDA.ERR that cannot be written
// ends the run: the file is tried first (without following a link or waiting on a pipe), while
// the error stream is still the console.
void open_error_file(RunContext& ctx, FILE** console) {
  const std::string path = ctx.local_path("QUORDA.ERR");
  if (ctx.files != nullptr && ctx.files->same_file(ctx.cmd.filespec, path))
    fatal(ctx.diag, kErrorFileIsRaw, ctx.cmd.filespec.c_str(), path.c_str());
  FILE* probe = open_text_output(path, true);
  if (probe == nullptr) fatal(ctx.diag, kErrorFileUnusable, full_path(path).c_str(), std::strerror(errno));
  std::fclose(probe);
  *console = duplicate_stream(ctx.diag.err);
  FILE* err = std::freopen(path.c_str(), "a", ctx.diag.err);
  if (err == nullptr) {
    const int e = errno;
    // The failed reopen closed the stream: it goes onto the null device to stay usable.
    ctx.diag.err = std::freopen(kNullDevice, "a", ctx.diag.err);
    std::fprintf(*console != nullptr ? *console : ctx.diag.out, kErrorFileUnusable, full_path(path).c_str(),
                 std::strerror(e));
    end_run(kExitFatal);
  }
  ctx.diag.err = err;
  errf(ctx.diag, kStartLine, asctime_text(ctx.cmd.start_time).c_str());
}

// Whether everything written to the error file reached it; says on the console when not.
bool error_file_written(RunContext& ctx, FILE* console) {
  if (ctx.diag.err == nullptr) return false;
  if (std::fflush(ctx.diag.err) == 0 && std::ferror(ctx.diag.err) == 0) return true;
  std::fprintf(console != nullptr ? console : ctx.diag.out, kErrorFileLost,
               ctx.local_path("QUORDA.ERR").c_str());
  return false;
}

// The run's end in plain words on the console the error stream wrote to at the start.
void say_on_console(const RunContext& ctx, const RunEnd& end, bool error_file, FILE* console) {
  const std::string line = console_reason(ctx, end, error_file && console != nullptr);
  FILE* to = console != nullptr ? console : error_file ? nullptr : ctx.diag.err;
  if (line.empty() || to == nullptr) return;
  std::fputs(line.c_str(), to);
  std::fflush(to);
}

}  // namespace

int run_quorda(RunContext& ctx, int argc, const char* const* argv) {
  RunEnd end{kExitOk};
  bool error_file = false;
  FILE* console = nullptr;
  try {
    make_time_zone_free();
    scan_help_and_version(ctx.diag, argc, argv);
    ctx.cmd.start_time = break_down_utc(static_cast<std::time_t>(ctx.platform.now()));
    show_banner(ctx);
    scan_switches(ctx, argc, argv);
    parse_command_line(ctx, argc, argv);
    if (!ctx.cmd.stderr_to_screen) {
      error_file = true;
      open_error_file(ctx, &console);
    }
    run_day(ctx);
  } catch (const RunEnd& e) {
    end = e;
  } catch (const std::exception& e) {
    ctx.measuring_thread.stop();
    errf(ctx.diag, kUnexpectedEnd, e.what());
    end = RunEnd{kExitFatal};
  }
  int status = end.status;
  // The measuring thread, if any, has done all it was handed (or failed) and ends here.
  ctx.measuring_thread.stop();
  std::fflush(ctx.diag.out);
  // A run whose messages were lost has not ended as it says it has.
  if (!error_file) {
    std::fflush(ctx.diag.err);
  } else if (!error_file_written(ctx, console) && status == kExitOk) {
    status = kExitFatal;
  }
  say_on_console(ctx, end, error_file, console);
  if (console != nullptr) std::fclose(console);
  return status;
}

int quorda_main(int argc, const char* const* argv, Platform& platform, Files& files) {
  auto ctx = make_run_context(platform, &files);
  int status = run_quorda(*ctx, argc, argv);
  ctx.reset();
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}

}  // namespace quorda
