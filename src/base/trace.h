// Trace printers hprintf and trace_queue: debugging lines on standard output, switched at build
// time.
//
// Both switches are compile-time constants and off, so a trace call compiles to nothing and its
// format is never examined. The printers know only bare conversions: %d (32-bit signed), %u
// (32-bit unsigned), %f (double) and %s; hprintf also takes %ld %lu %lf (any other character after
// %l is skipped without output and without taking an argument). Any other conversion ends the run
// after "*** Error in 'hprintf': Unknown format '%c' !\n" on the error stream. Every argument is
// converted by the conversion that takes it, whatever its own type, so no call can misread its
// arguments. trace_print is the printer itself, always on, for tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "base/diagnostics.h"

namespace quorda {

inline constexpr bool kTraceMain = false;   // hprintf, and the console summary stays among its lines
inline constexpr bool kTraceQueue = false;  // trace_queue and the pool map

enum class TraceKind { kMain, kQueue };

// What a trace argument may be: a number, an enum or a text. Checked at every call, also with the
// switches off.
template <typename T>
concept TraceValue = std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_same_v<T, std::string> ||
    std::is_convertible_v<T, const char*>;

// One argument in the forms the conversions take: a whole number (a floating value cut toward
// zero, 0 where it has none), a real number, and a text (null for numbers).
struct TraceArg {
  int64_t whole = 0;
  double real = 0;
  const char* text = nullptr;

  template <TraceValue T>
  TraceArg(const T& v) {  // implicit: the printer builds one from each of its arguments
    if constexpr (std::is_enum_v<T>) {
      whole = static_cast<int64_t>(v);
      real = static_cast<double>(whole);
    } else if constexpr (std::is_arithmetic_v<T>) {
      real = static_cast<double>(v);
      if constexpr (std::is_integral_v<T>) {
        whole = static_cast<int64_t>(v);
      } else if (std::fabs(real) < 9.2e18) {
        whole = static_cast<int64_t>(real);
      }
    } else if constexpr (std::is_same_v<T, std::string>) {
      text = v.c_str();
    } else {
      text = v;
    }
  }
};

// Walks the format and prints; ends the run on an unknown conversion.
void trace_print_args(Diag& d, TraceKind kind, const char* fmt, std::initializer_list<TraceArg> args);

template <TraceValue... A>
void trace_print(Diag& d, TraceKind kind, const char* fmt, const A&... a) {
  trace_print_args(d, kind, fmt, {TraceArg(a)...});
}

template <TraceValue... A>
void hprintf(Diag& d, const char* fmt, const A&... a) {
  if constexpr (kTraceMain) trace_print(d, TraceKind::kMain, fmt, a...);
}

template <TraceValue... A>
void trace_queue(Diag& d, const char* fmt, const A&... a) {
  if constexpr (kTraceQueue) trace_print(d, TraceKind::kQueue, fmt, a...);
}

}  // namespace quorda
