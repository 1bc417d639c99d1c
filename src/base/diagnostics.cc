// Diagnostics: tagged failure lines, formatted messages and fatal ends.
#include "base/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/run_end.h"

namespace quorda {

namespace {

// Passes the gate, if any, with errno kept for the message.
void pass_gate(const Diag& d) {
  if (d.gate == nullptr) return;
  const int e = errno;
  d.gate->before_message();
  errno = e;
}

}  // namespace

void report_tag(Diag& d, const char* tag) {
  int e = errno;
  pass_gate(d);
  std::fprintf(d.err, "%s: %s\n", tag, std::strerror(e));
  errno = e;
}

void errf(Diag& d, const char* fmt, ...) {
  pass_gate(d);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(d.err, fmt, ap);
  va_end(ap);
}

void outf(Diag& d, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(d.out, fmt, ap);
  va_end(ap);
}

void fatal(Diag& d, const char* fmt, ...) {
  pass_gate(d);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(d.err, fmt, ap);
  va_end(ap);
  std::fflush(d.out);
  std::fflush(d.err);
  end_run(kExitFatal, false, fmt);
}

void fatal_tag(Diag& d, const char* tag) {
  const int e = errno;
  report_tag(d, tag);
  std::fflush(d.out);
  std::fflush(d.err);
  end_run(kExitFatal, true, tag, e);
}

}  // namespace quorda
