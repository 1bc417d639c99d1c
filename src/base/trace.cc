// The trace printer behind hprintf and hprintf_q.
#include "base/trace.h"

#include <cinttypes>
#include <cstdio>

#include "base/run_end.h"

namespace quorda {

namespace {

int64_t as_int(const TraceArg& a) {
  switch (a.type) {
    case TraceArg::Type::kInt:
      return a.i;
    case TraceArg::Type::kUint:
      return static_cast<int64_t>(a.u);
    case TraceArg::Type::kFloat:
      return static_cast<int64_t>(a.f);
    case TraceArg::Type::kString:
      return 0;
  }
  return 0;
}

double as_double(const TraceArg& a) {
  switch (a.type) {
    case TraceArg::Type::kInt:
      return static_cast<double>(a.i);
    case TraceArg::Type::kUint:
      return static_cast<double>(a.u);
    case TraceArg::Type::kFloat:
      return a.f;
    case TraceArg::Type::kString:
      return 0.0;
  }
  return 0.0;
}

// Prints one argument for the conversion letter c ('d', 'u' or 'f').
void print_number(FILE* out, char c, const TraceArg* arg) {
  if (arg == nullptr) return;
  switch (c) {
    case 'd':
      std::fprintf(out, "%" PRId32, static_cast<int32_t>(static_cast<uint32_t>(as_int(*arg))));
      break;
    case 'u':
      std::fprintf(out, "%" PRIu32, static_cast<uint32_t>(as_int(*arg)));
      break;
    case 'f':
      std::fprintf(out, "%f", as_double(*arg));
      break;
  }
}

}  // namespace

void trace_vprint(Diag& d, TraceKind kind, const char* fmt, const TraceArg* args, int n) {
  int next = 0;
  auto take = [&]() -> const TraceArg* { return next < n ? &args[next++] : nullptr; };
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      std::fputc(*p, d.out);
      continue;
    }
    char c = *++p;
    if (c == 'd' || c == 'u' || c == 'f') {
      print_number(d.out, c, take());
    } else if (c == 's') {
      const TraceArg* a = take();
      if (a != nullptr && a->type == TraceArg::Type::kString && a->s != nullptr) std::fputs(a->s, d.out);
    } else if (c == 'l' && kind == TraceKind::kMain) {
      char c2 = p[1];
      if (c2 == '\0') break;
      ++p;
      if (c2 == 'd' || c2 == 'u' || c2 == 'f') print_number(d.out, c2, take());
    } else {
      std::fflush(d.out);
      std::fprintf(d.err, "*** Error in 'hprintf': Unknown format '%c' !\n", c);
      std::fflush(d.err);
      end_run(kExitFatal);
    }
    if (c == '\0') break;
  }
}

}  // namespace quorda
