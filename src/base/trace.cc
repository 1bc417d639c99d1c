// The trace printer behind hprintf and trace_queue.
#include "base/trace.h"

#include <cinttypes>
#include <cstdio>

#include "base/run_end.h"

namespace quorda {

void trace_print_args(Diag& d, TraceKind kind, const char* fmt, std::initializer_list<TraceArg> args) {
  const TraceArg* next = args.begin();
  auto take = [&]() -> const TraceArg* { return next != args.end() ? next++ : nullptr; };
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      std::fputc(*p, d.out);
      continue;
    }
    char c = *++p;
    if (c == 'l' && kind == TraceKind::kMain) {
      if (p[1] == '\0') break;
      c = *++p;
      if (c != 'd' && c != 'u' && c != 'f') continue;
    } else if (c != 'd' && c != 'u' && c != 'f' && c != 's') {
      std::fflush(d.out);
      std::fprintf(d.err, "*** Error in 'hprintf': Unknown format '%c' !\n", c);
      std::fflush(d.err);
      end_run(kExitFatal);
    }
    const TraceArg* a = take();
    if (a == nullptr) continue;
    const auto low = static_cast<uint32_t>(a->whole);
    if (c == 'd') std::fprintf(d.out, "%" PRId32, static_cast<int32_t>(low));
    if (c == 'u') std::fprintf(d.out, "%" PRIu32, low);
    if (c == 'f') std::fprintf(d.out, "%f", a->real);
    if (c == 's' && a->text != nullptr) std::fputs(a->text, d.out);
  }
}

}  // namespace quorda
