// The text file "res": created on the first pair of the run, one write per line into the
// stream's buffer, so that the system is called once per buffer of lines.
#include "measure/res_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/diagnostics.h"
#include "measure/res_line.h"

namespace quorda {

namespace {

constexpr size_t kResBufSize = size_t{1} << 16;
constexpr const char* kResName = "res";

constexpr const char* kCannotCreateText =
    "eval_dr: cannot create %s (%s), no hydrometeor lines are written\n";
constexpr const char* kWriteFailedText =
    "eval_dr: writing %s failed (%s), no further hydrometeor lines are written\n";
constexpr const char* kCloseFailedText = "eval_dr: writing %s failed (%s)\n";

// A write to "res" failed (a full disk, an I/O error): said once, and the file is given up.
void stop_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  errf(ctx.diag, kWriteFailedText, kResName, std::strerror(errno));
  std::fclose(ev.res);
  ev.res = nullptr;
  ev.res_failed = true;
}

}  // namespace

void open_res_once(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res_tried) return;
  ev.res_tried = true;
  const std::string path = ctx.local_path(kResName);
  // Text mode ("wt") is the same as "w" here.
  ev.res = std::fopen(path.c_str(), "w");
  if (ev.res == nullptr) {
    errf(ctx.diag, kCannotCreateText, path.c_str(), std::strerror(errno));
    ev.res_failed = true;
    return;
  }
  ev.res_buf = std::make_unique<char[]>(kResBufSize);
  std::setvbuf(ev.res, ev.res_buf.get(), _IOFBF, kResBufSize);
}

void write_res_line(const MeasureRun& ctx, const DropMeasures& m) {
  open_res_once(ctx);
  if (ctx.eval.res == nullptr) return;
  double values[kResValues];
  res_values(m, values);
  char line[kResLineMax];
  const size_t n = format_res_line(values, line);
  if (std::fwrite(line, 1, n, ctx.eval.res) != n) stop_res(ctx);
}

void close_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res == nullptr) return;
  // The buffered lines are flushed before the close and apart from it: a C library may close a
  // stream whose last lines could not be written and still report success (Wine's does).
  bool written = std::fflush(ev.res) == 0;
  int error = errno;
  if (std::fclose(ev.res) != 0 && written) {
    written = false;
    error = errno;
  }
  ev.res = nullptr;
  if (!written) {
    errf(ctx.diag, kCloseFailedText, kResName, std::strerror(error));
    ev.res_failed = true;
  }
}

}  // namespace quorda
