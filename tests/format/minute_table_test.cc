// The per-minute tables of the header and index files, and the minute of a line.
#include "format/minute_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quorda {
namespace {

constexpr double kLineFr = 100.0;
constexpr double kMinute = kLineFr * 60;  // lines per minute

TEST(MinuteTable, EntriesAreLittleEndianFourBytesApart) {
  std::vector<int32_t> t(kMinutes, -1);
  t[0] = 0;
  t[1] = 0x01020304;
  t[kMinutes - 1] = 0x7FFFFFFF;
  std::vector<uint8_t> bytes(kMinuteTableBytes, 0xAA);
  encode_minute_table(std::span<const int32_t, kMinutes>(t.data(), kMinutes), bytes.data());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12),
            (std::vector<uint8_t>{0, 0, 0, 0, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(get_minute_entry(bytes.data(), 1), 0x01020304);
  EXPECT_EQ(read_minute_table(bytes), t);
}

TEST(MinuteTable, PutEntryChangesOnlyItsFourBytes) {
  std::vector<uint8_t> bytes(kMinuteTableBytes, 0);
  put_minute_entry(bytes.data(), 600, -2);  // 0xFFFFFFFE
  std::vector<uint8_t> want(kMinuteTableBytes, 0);
  want[2400] = 0xFE;
  want[2401] = want[2402] = want[2403] = 0xFF;
  EXPECT_EQ(bytes, want);
}

TEST(MinuteTable, ReaderRefusesATableCutShort) {
  const std::vector<uint8_t> cut(kMinuteTableBytes - 1, 0);
  EXPECT_TRUE(read_minute_table(cut).empty());
  const std::vector<uint8_t> longer(kMinuteTableBytes + 2, 0);
  EXPECT_EQ(read_minute_table(longer), std::vector<int32_t>(kMinutes, 0));
}

TEST(MinuteOfLine, MinutesBeginAtWholeMultiplesOfTheLinesPerMinute) {
  EXPECT_EQ(minute_of_line(0, kLineFr), 0);
  EXPECT_EQ(minute_of_line(kMinute - 1, kLineFr), 0);
  EXPECT_EQ(minute_of_line(kMinute, kLineFr), 1);
  EXPECT_EQ(minute_of_line(600 * kMinute + 0.5, kLineFr), 600);
  EXPECT_EQ(minute_of_line(1442 * kMinute - 1, kLineFr), 1441);
  EXPECT_EQ(line_minute(1442 * kMinute, kLineFr), 1442.0);
}

TEST(MinuteOfLine, NoMinuteBeyondTheTableOrWithoutALineFrequency) {
  EXPECT_EQ(minute_of_line(1442 * kMinute, kLineFr), kNoMinute);
  EXPECT_EQ(minute_of_line(-kMinute, kLineFr), kNoMinute);
  EXPECT_EQ(minute_of_line(std::numeric_limits<double>::quiet_NaN(), kLineFr), kNoMinute);
  EXPECT_EQ(minute_of_line(std::numeric_limits<double>::infinity(), kLineFr), kNoMinute);
  EXPECT_EQ(minute_of_line(100, 0.0), kNoMinute);
  EXPECT_EQ(minute_of_line(100, -kLineFr), kNoMinute);
  EXPECT_EQ(minute_of_line(100, std::numeric_limits<double>::quiet_NaN()), kNoMinute);
}

TEST(MinuteOfLine, FirstLinePastAMinuteIsTheExactEdge) {
  const double inf = std::numeric_limits<double>::infinity();
  int edges = 0;
  for (double fr : {kLineFr, 20000.0, 55000.0, 1.0 / 3.0, 0.7, 12345.678, 1e-300, 3e300}) {
    for (int minute = -1; minute < kMinutes + 1; ++minute) {
      const double edge = first_line_past_minute(minute, fr);
      if (edge == -inf) continue;
      ++edges;
      // The edge is past the minute, the double below it is not.
      EXPECT_GE(line_minute(edge, fr), minute + 1.0) << fr << " " << minute;
      EXPECT_LE(line_minute(std::nextafter(edge, -inf), fr), static_cast<double>(minute))
          << fr << " " << minute;
      if (minute >= 0 && minute < kMinutes - 1) {
        EXPECT_EQ(minute_of_line(edge, fr), minute + 1);
      }
    }
  }
  // Every minute of the table has its edge at the usual line frequencies.
  for (double fr : {kLineFr, 20000.0, 55000.0}) {
    for (int minute = 0; minute < kMinutes; ++minute) EXPECT_NE(first_line_past_minute(minute, fr), -inf);
  }
  EXPECT_GT(edges, 4 * kMinutes);
  EXPECT_EQ(first_line_past_minute(3, 0.0), -inf);
  EXPECT_EQ(first_line_past_minute(3, -kLineFr), -inf);
  EXPECT_EQ(first_line_past_minute(3, std::numeric_limits<double>::quiet_NaN()), -inf);
  EXPECT_EQ(first_line_past_minute(3, inf), -inf);
}

}  // namespace
}  // namespace quorda
