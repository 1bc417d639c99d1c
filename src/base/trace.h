// Trace printers hprintf and hprintf_q: debugging lines on standard output, switched at build
// time.
//
// Both switches are compile-time constants and off, so a trace call compiles to nothing. The
// printers know only bare conversions: hprintf takes %d %u %f %s and %ld %lu %lf (any other
// character after %l is skipped without output and without taking an argument); hprintf_q takes
// %d %u %f %s only. Any other conversion is an error that ends the run after
// "*** Error in 'hprintf': Unknown format '%c' !\n" on the error stream.
//
// Arguments are converted by the conversion that takes them: %d as a 32-bit signed value, %u as
// 32-bit unsigned, %f as a double, %s as a string. trace_print is the printer itself, always on,
// for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/diagnostics.h"

namespace quorda {

inline constexpr int16_t debug_main = 0;
inline constexpr int16_t debug_queue = 0;

enum class TraceKind { kMain, kQueue };

struct TraceArg {
  enum class Type { kInt, kUint, kFloat, kString } type;
  int64_t i = 0;
  uint64_t u = 0;
  double f = 0;
  const char* s = nullptr;
};

template <typename T>
TraceArg make_trace_arg(const T& v) {
  TraceArg a{};
  if constexpr (std::is_same_v<T, bool>) {
    a.type = TraceArg::Type::kInt;
    a.i = v ? 1 : 0;
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    a.type = TraceArg::Type::kInt;
    a.i = v;
  } else if constexpr (std::is_integral_v<T>) {
    a.type = TraceArg::Type::kUint;
    a.u = v;
  } else if constexpr (std::is_floating_point_v<T>) {
    a.type = TraceArg::Type::kFloat;
    a.f = static_cast<double>(v);
  } else if constexpr (std::is_same_v<T, std::string>) {
    a.type = TraceArg::Type::kString;
    a.s = v.c_str();
  } else if constexpr (std::is_enum_v<T>) {
    a.type = TraceArg::Type::kInt;
    a.i = static_cast<int64_t>(v);
  } else {
    static_assert(std::is_convertible_v<T, const char*>, "trace arguments: numbers and strings");
    a.type = TraceArg::Type::kString;
    a.s = v;
  }
  return a;
}

// Walks the format and prints; ends the run on an unknown conversion.
void trace_vprint(Diag& d, TraceKind kind, const char* fmt, const TraceArg* args, int n);

template <typename... A>
void trace_print(Diag& d, TraceKind kind, const char* fmt, const A&... a) {
  if constexpr (sizeof...(A) == 0) {
    trace_vprint(d, kind, fmt, nullptr, 0);
  } else {
    const TraceArg args[] = {make_trace_arg(a)...};
    trace_vprint(d, kind, fmt, args, static_cast<int>(sizeof...(A)));
  }
}

template <typename... A>
inline void hprintf(Diag& d, const char* fmt, const A&... a) {
  if constexpr (debug_main == 1) trace_print(d, TraceKind::kMain, fmt, a...);
}

template <typename... A>
inline void hprintf_q(Diag& d, const char* fmt, const A&... a) {
  if constexpr (debug_queue == 1) trace_print(d, TraceKind::kQueue, fmt, a...);
}

}  // namespace quorda
