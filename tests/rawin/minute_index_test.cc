// The per-camera minute index of the raw file and the rising-line-number check.
#include "rawin/minute_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;

constexpr double kLineFr = 100.0;         // lines per second
constexpr double kMinute = kLineFr * 60;  // lines per minute

// A block of `n` lines, one line number apart, starting at y.
struct Block {
  Block(double y, int n) : lines(static_cast<size_t>(n)) {
    for (int i = 0; i < n; ++i) lines[static_cast<size_t>(i)].y_count = y + i;
  }
  explicit Block(std::vector<double> ys) : lines(ys.size()) {
    for (size_t i = 0; i < ys.size(); ++i) lines[i].y_count = ys[i];
  }
  LineBlock view(bool rising = false) const {
    return LineBlock{static_cast<int16_t>(lines.size()), lines.data(), rising};
  }
  std::vector<LineRecord> lines;
};

struct MarkMinute : ::testing::Test {
  MarkMinute() { ctx.hdr.line_fr = kLineFr; }
  void mark(int camera, int32_t record_pos, const Block& b, bool rising = false) {
    (camera == 1 ? ctx.drv.prev_a : ctx.drv.prev_b) = record_pos;
    mark_minute(ctx.rawin_part(), static_cast<Camera>(camera), b.view(rising));
  }
  TestRun t;
  RunContext& ctx = *t.ctx;
};

TEST_F(MarkMinute, FirstBlockFillsEveryMinuteUpToItsOwnWithItsPosition) {
  mark(1, 4321, Block(5 * kMinute + 17, 3));
  for (int m = 0; m <= 5; ++m) EXPECT_EQ(ctx.minutes.minute_pos_a[m], 4321) << m;
  EXPECT_EQ(ctx.minutes.minute_pos_a[6], 0);
  EXPECT_EQ(ctx.minutes.last_minute_a, 5);
  EXPECT_EQ(ctx.minutes.highest_line_a, 5 * kMinute + 19);
  // Camera B's index is untouched.
  EXPECT_EQ(ctx.minutes.minute_pos_b[0], 0);
  EXPECT_EQ(ctx.minutes.last_minute_b, -1);
}

TEST_F(MarkMinute, LaterBlocksFillSkippedMinutesAndKeepSetEntries) {
  ctx.minutes.minute_pos_a[7] = 99;  // set by an earlier run
  mark(1, 100, Block(5 * kMinute, 2));
  mark(1, 200, Block(5 * kMinute + 50, 2));  // same minute: nothing changes
  EXPECT_EQ(ctx.minutes.minute_pos_a[5], 100);
  EXPECT_EQ(ctx.minutes.minute_pos_a[6], 0);
  mark(1, 300, Block(9 * kMinute + 1, 2));
  EXPECT_EQ(ctx.minutes.minute_pos_a[5], 100);
  EXPECT_EQ(ctx.minutes.minute_pos_a[6], 300);
  EXPECT_EQ(ctx.minutes.minute_pos_a[7], 99);
  EXPECT_EQ(ctx.minutes.minute_pos_a[8], 300);
  EXPECT_EQ(ctx.minutes.minute_pos_a[9], 300);
  EXPECT_EQ(ctx.minutes.minute_pos_a[10], 0);
  EXPECT_EQ(ctx.minutes.last_minute_a, 9);
}

TEST_F(MarkMinute, CameraBKeepsItsOwnIndexAndOtherCamerasDoNothing) {
  mark(2, 800, Block(2 * kMinute, 2));
  EXPECT_EQ(ctx.minutes.minute_pos_b[2], 800);
  EXPECT_EQ(ctx.minutes.last_minute_b, 2);
  EXPECT_EQ(ctx.minutes.minute_pos_a[2], 0);
  EXPECT_EQ(ctx.minutes.last_minute_a, -1);
  Block b(3 * kMinute, 2);
  mark_minute(ctx.rawin_part(), static_cast<Camera>(3), b.view());
  mark_minute(ctx.rawin_part(), static_cast<Camera>(0), b.view());
  EXPECT_EQ(ctx.minutes.minute_pos_b[3], 0);
  EXPECT_EQ(ctx.minutes.highest_line_b, 2 * kMinute + 1);
}

TEST_F(MarkMinute, MinuteThatCannotBeFormedOrLiesBeyondTheDayIsNotEntered) {
  ctx.hdr.line_fr = 0.0;
  mark(1, 10, Block(3 * kMinute, 2));
  EXPECT_EQ(ctx.minutes.last_minute_a, -1);
  EXPECT_EQ(ctx.minutes.minute_pos_a[0], 0);
  EXPECT_EQ(ctx.minutes.highest_line_a, 3 * kMinute + 1);  // the highest line still moves

  ctx.hdr.line_fr = kLineFr;
  mark(1, 30, Block(1441 * kMinute + 5, 2));  // the last minute of the table
  EXPECT_EQ(ctx.minutes.minute_pos_a[1441], 30);
  EXPECT_EQ(ctx.minutes.minute_pos_a[0], 30);

  mark(2, 20, Block(1442 * kMinute, 2));  // minute 1442: beyond the table
  EXPECT_EQ(ctx.minutes.last_minute_b, -1);
  EXPECT_EQ(ctx.minutes.minute_pos_b[0], 0);
  EXPECT_EQ(ctx.minutes.minute_pos_b[1441], 0);
  EXPECT_EQ(ctx.minutes.last_minute_a, 1441);
}

// What the driver does with a block: take it when its lines rise, then enter its minutes.
bool take(RunContext& ctx, int camera, int32_t record_pos, const Block& b, bool rising = false) {
  (camera == 1 ? ctx.drv.prev_a : ctx.drv.prev_b) = record_pos;
  if (!take_block_lines(ctx.rawin_part(), static_cast<Camera>(camera), b.view(rising))) return false;
  mark_minute(ctx.rawin_part(), static_cast<Camera>(camera), b.view(rising));
  return true;
}

// One falling block between rising ones is stepped over and reported once the next block rises;
// it changes neither the index nor the highest line. A falling last block is reported at the end.
TEST_F(MarkMinute, AFallingBlockFollowedByARisingOneIsSteppedOver) {
  ctx.raw.raw_file_path = "V10082_1.ab";
  ASSERT_TRUE(take(ctx, 2, 100, Block(200.0, 10)));               // lines 200 to 209
  EXPECT_FALSE(take(ctx, 2, 150, Block({210.0, 211.0, 211.0})));  // equal lines: falls
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(ctx.minutes.highest_line_b, 209.0);
  ASSERT_TRUE(take(ctx, 2, 300, Block(3 * kMinute, 2), true));
  EXPECT_EQ(ctx.minutes.minute_pos_b[1], 300);
  EXPECT_EQ(t.err(),
            "V10082_1.ab: camera B, block at byte 150: its line numbers fall below 209 while the next block "
            "rises above it: a damaged block, stepped over\n");
  EXPECT_FALSE(take(ctx, 1, 400, Block(0.0, 2)));  // a first line at 0 does not rise either
  report_held_blocks(ctx.rawin_part());
  EXPECT_NE(t.err().find("V10082_1.ab: camera A, block at byte 400: its line numbers fall below 0 and no "
                         "block follows: stepped over\n"),
            std::string::npos);
}

// A block whose lines the decoder found rising is checked at its first line only: the same
// decision, highest line and messages as a check of every line, whichever the first line is.
TEST(MarkMinuteRising, RisingBlocksGiveWhatTheLineByLineCheckGives) {
  const double firsts[] = {5000.0, 5010.0, 5009.0, 4000.0, 0.0, -1.0, 5010.5, 1.0e15, NAN, -INFINITY};
  for (int camera : {1, 2}) {
    for (double first : firsts) {
      Block b(first, 7);
      std::string err[2];
      int status[2];
      double highest[2];
      for (bool rising : {false, true}) {
        TestRun t;
        t.ctx->hdr.line_fr = kLineFr;
        double& h = camera == 1 ? t.ctx->minutes.highest_line_a : t.ctx->minutes.highest_line_b;
        h = 5009.0;
        status[rising] = t.ends_with([&] {
          if (!take(*t.ctx, camera, 10, b, rising)) take(*t.ctx, camera, 20, b, rising);
        });
        err[rising] = t.err();
        highest[rising] = h;
      }
      EXPECT_EQ(status[1], status[0]) << first;
      EXPECT_EQ(err[1], err[0]) << first;
      EXPECT_EQ(std::memcmp(&highest[1], &highest[0], sizeof(double)), 0) << first;
    }
  }
}

}  // namespace
}  // namespace quorda
