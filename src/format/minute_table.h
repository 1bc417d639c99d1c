// The per-minute tables of the output set and the minute of the day of a line.
//
// The header file (".hd") begins with pos_pix, the index file (".abh") with posa_bf and posb_bf:
// each a table of kMinutes 32-bit little-endian entries, entry m for minute m of the day. The
// converter, its recovery, hydinfo and the tests read and write these tables only through the
// coders here, and turn a line number into a minute only through minute_of_line.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"

namespace quorda {

inline constexpr size_t kMinuteEntrySize = 4;

// The pos_pix entry of a minute in which no particle record begins.
inline constexpr int32_t kNoRecord = -1;

// Entry 0 of pos_pix may hold 0, the start of the stream, without pointing at a particle record: a
// new header file holds it.
inline bool is_first_minute_start(int minute, int32_t entry) {
  return minute == 0 && entry == 0;
}
inline constexpr size_t kMinuteTableBytes = size_t{kMinutes} * kMinuteEntrySize;  // 5768

// Entry `minute` of the table that starts at `table`.
// REQUIRES: 0 <= minute < kMinutes; the table holds kMinuteTableBytes bytes.
inline int32_t get_minute_entry(const uint8_t* table, int minute) {
  return get_i32(table + kMinuteEntrySize * static_cast<size_t>(minute));
}
inline void put_minute_entry(uint8_t* table, int minute, int32_t v) {
  put_i32(table + kMinuteEntrySize * static_cast<size_t>(minute), v);
}

// REQUIRES: dst has room for kMinuteTableBytes bytes.
inline void encode_minute_table(std::span<const int32_t, kMinutes> table, uint8_t* dst) {
  for (int m = 0; m < kMinutes; ++m) put_minute_entry(dst, m, table[static_cast<size_t>(m)]);
}

// REQUIRES: src holds kMinuteTableBytes bytes.
inline void decode_minute_table(const uint8_t* src, std::span<int32_t, kMinutes> table) {
  for (int m = 0; m < kMinutes; ++m) table[static_cast<size_t>(m)] = get_minute_entry(src, m);
}

// The table at the start of `bytes`, or an empty vector when fewer than kMinuteTableBytes bytes
// are there (a checked reader for files that may be cut short).
inline std::vector<int32_t> read_minute_table(std::span<const uint8_t> bytes) {
  std::vector<int32_t> t;
  if (bytes.size() < kMinuteTableBytes) return t;
  t.resize(kMinutes);
  decode_minute_table(bytes.data(), std::span<int32_t, kMinutes>(t.data(), kMinutes));
  return t;
}

// The minute of the day in which line y was scanned at line_fr lines per second:
// y / (line_fr * 60), truncated toward zero, not bounded. NaN when y is NaN or line_fr is 0 or
// NaN; the caller decides what a minute outside the table means.
inline double line_minute(double y, double line_fr) {
  return std::trunc(y / (line_fr * 60.0));
}

// Returned by minute_of_line when a line has no entry in a minute table.
inline constexpr int kNoMinute = -1;

// The minute of line y as an index of a minute table, or kNoMinute when no line frequency is
// known (line_fr not positive) or the minute lies outside 0 to kMinutes - 1.
inline int minute_of_line(double y, double line_fr) {
  if (!(line_fr > 0.0)) return kNoMinute;
  const double m = line_minute(y, line_fr);
  if (!(m >= 0.0 && m <= static_cast<double>(kMinutes - 1))) return kNoMinute;
  return static_cast<int>(m);
}

// The least line y whose line_minute(y, line_fr) exceeds `minute`: every line below it falls in
// `minute` or before (the minute a line falls in never falls as the line rises). Found from the
// product (minute + 1) * line_fr * 60 and the doubles next to it, each tried with line_minute
// itself. Minus infinity when there is no positive line frequency or the edge lies farther than
// that search goes.
inline double first_line_past_minute(int minute, double line_fr) {
  constexpr double kNone = -std::numeric_limits<double>::infinity();
  constexpr double kUp = std::numeric_limits<double>::infinity();
  constexpr int kMaxSteps = 64;
  if (!(line_fr > 0.0)) return kNone;
  const double next = static_cast<double>(minute) + 1.0;
  const auto past = [&](double y) { return line_minute(y, line_fr) >= next; };
  double y = next * (line_fr * 60.0);
  if (!std::isfinite(y)) return kNone;
  if (past(y)) {
    for (int i = 0; i < kMaxSteps; ++i) {
      const double below = std::nextafter(y, kNone);
      if (!past(below)) return y;
      y = below;
    }
  } else {
    for (int i = 0; i < kMaxSteps; ++i) {
      y = std::nextafter(y, kUp);
      if (past(y)) return y;
    }
  }
  return kNone;
}

}  // namespace quorda
