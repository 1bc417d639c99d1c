// The text file "res": created on the first pair of the run; each line is formatted straight into
// the run's buffer of lines, and a full buffer goes to the stream with one write, so that the
// system is called once per buffer of lines and the C library's stream is not entered per line.
#include "measure/res_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/diagnostics.h"
#include "measure/res_line.h"
#include "platform/files.h"

namespace quorda {

namespace {

static_assert(kResBufSize >= 2 * kResLineMax, "a buffer holds a good many lines");

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
  ev.res_used = 0;
  ev.res_failed = true;
}

// Hands the buffered lines to the stream; false when they were not all written (errno tells why).
bool put_buffered(EvalState& ev) {
  const size_t n = ev.res_used;
  ev.res_used = 0;
  return n == 0 || std::fwrite(ev.res_buf.get(), 1, n, ev.res) == n;
}

}  // namespace

void attach_res(EvalState& ev, FILE* stream) {
  ev.res = stream;
  ev.res_used = 0;
  if (ev.res_buf == nullptr) ev.res_buf = std::make_unique<char[]>(kResBufSize);
  std::setvbuf(ev.res, nullptr, _IONBF, 0);
}

void open_res_once(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res_tried) return;
  ev.res_tried = true;
  const std::string path = ctx.local_path(kResName);
  // Text mode ("wt") is the same as "w" here. A link planted at the name is not followed.
  FILE* stream = open_text_output(path, false);
  if (stream == nullptr) {
    errf(ctx.diag, kCannotCreateText, path.c_str(), std::strerror(errno));
    ev.res_failed = true;
    return;
  }
  attach_res(ev, stream);
}

namespace {

// Where the next line goes in the buffer (kResLineMax bytes free), after handing a fuller buffer to
// the stream; null when no line is written.
char* line_room(const MeasureRun& ctx) {
  open_res_once(ctx);
  EvalState& ev = ctx.eval;
  if (ev.res == nullptr) return nullptr;
  if (kResBufSize - ev.res_used < kResLineMax && !put_buffered(ev)) {
    stop_res(ctx);
    return nullptr;
  }
  return ev.res_buf.get() + ev.res_used;
}

}  // namespace

void write_res_line(const MeasureRun& ctx, const DropMeasures& m) {
  char* at = line_room(ctx);
  if (at == nullptr) return;
  double values[kResValues];
  res_values(m, values);
  ctx.eval.res_used += format_res_line(values, at);
}

void write_res_text(const MeasureRun& ctx, const char* text, size_t len) {
  char* at = line_room(ctx);
  if (at == nullptr) return;
  std::memcpy(at, text, len);
  ctx.eval.res_used += len;
}

void flush_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res == nullptr) return;
  if (!put_buffered(ev) || std::fflush(ev.res) != 0) stop_res(ctx);
}

void close_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res == nullptr) return;
  // The buffered lines are written and flushed before the close and apart from it: a C library
  // may close a stream whose last lines could not be written and still report success (Wine's
  // does).
  bool written = put_buffered(ev) && std::fflush(ev.res) == 0;
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
