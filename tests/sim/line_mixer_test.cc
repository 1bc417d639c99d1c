// Mixing the runs of several particles into one camera line, and the touch marks between lines.
#include "sim/line_mixer.h"

#include <gtest/gtest.h>

namespace quorda::sim {
namespace {

struct Drops {
  SimDrop d[8];
  Drops() {
    for (int i = 0; i < 8; ++i) d[i].id = static_cast<uint64_t>(i);
  }
};

TEST(MixLine, SortsSeparateRunsAndMarksNothing) {
  Drops p;
  OwnedRun runs[] = {{{50, 55}, &p.d[0]}, {{10, 14}, &p.d[1]}, {{30, 31}, &p.d[2]}};
  LineRecord line;
  SimDrop* owners[kMaxRuns] = {};
  mix_line(runs, 3, &line, owners);
  ASSERT_EQ(line.n_runs, 3);
  EXPECT_EQ(line.runs[0].start, 10);
  EXPECT_EQ(line.runs[1].start, 30);
  EXPECT_EQ(line.runs[2].end, 55);
  EXPECT_EQ(owners[0], &p.d[1]);
  EXPECT_EQ(owners[2], &p.d[0]);
  for (const SimDrop& d : p.d) EXPECT_FALSE(d.merged);
}

TEST(MixLine, OverlappingAndTouchingRunsBecomeOneShadow) {
  Drops p;
  // {10,20} and {18,25} overlap; {25,30} starts where the joined run ends (no free pixel between).
  OwnedRun runs[] = {{{18, 25}, &p.d[0]}, {{10, 20}, &p.d[1]}, {{25, 30}, &p.d[2]}, {{32, 40}, &p.d[3]}};
  LineRecord line;
  SimDrop* owners[kMaxRuns] = {};
  mix_line(runs, 4, &line, owners);
  ASSERT_EQ(line.n_runs, 2);
  EXPECT_EQ(line.runs[0].start, 10);
  EXPECT_EQ(line.runs[0].end, 30);
  EXPECT_EQ(line.runs[1].start, 32);
  EXPECT_TRUE(p.d[0].merged && p.d[1].merged && p.d[2].merged);
  EXPECT_FALSE(p.d[3].merged);
}

TEST(MixLine, KeepsAtMostSixRunsByClosingTheNarrowestGaps) {
  Drops p;
  OwnedRun runs[8];
  // Gaps of 10 pixels except one of 2 (between the 4th and 5th run) and one of 1 (6th and 7th).
  const int starts[8] = {0, 15, 30, 45, 52, 67, 73, 90};
  for (int i = 0; i < 8; ++i)
    runs[i] = {{static_cast<int16_t>(starts[i]), static_cast<int16_t>(starts[i] + 5)}, &p.d[i]};
  LineRecord line;
  SimDrop* owners[kMaxRuns] = {};
  mix_line(runs, 8, &line, owners);
  ASSERT_EQ(line.n_runs, 6);
  EXPECT_EQ(line.runs[3].start, 45);
  EXPECT_EQ(line.runs[3].end, 57);
  EXPECT_EQ(line.runs[4].start, 67);
  EXPECT_EQ(line.runs[4].end, 78);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p.d[i].merged, i >= 3 && i <= 6) << i;
  for (int i = 1; i < 6; ++i) EXPECT_GT(line.runs[i].start, line.runs[i - 1].end);
}

TEST(MarkTouching, RunsOfNeighbouringLinesThatPieceAssignmentWouldJoinAreMarked) {
  Drops p;
  LineRecord prev, line;
  prev.n_runs = 2;
  prev.runs[0] = {10, 14};
  prev.runs[1] = {40, 45};
  SimDrop* prev_owners[kMaxRuns] = {&p.d[0], &p.d[1]};
  line.n_runs = 2;
  line.runs[0] = {14, 20};  // touches {10,14} at one pixel value: joined by piece assignment
  line.runs[1] = {41, 44};  // the same particle as before: no mark
  SimDrop* owners[kMaxRuns] = {&p.d[2], &p.d[1]};
  mark_touching(prev, prev_owners, line, owners);
  EXPECT_TRUE(p.d[0].merged);
  EXPECT_TRUE(p.d[2].merged);
  EXPECT_FALSE(p.d[1].merged);

  Drops q;
  SimDrop* qprev[kMaxRuns] = {&q.d[0]};
  SimDrop* qline[kMaxRuns] = {&q.d[1]};
  prev.n_runs = 1;
  line.n_runs = 1;
  line.runs[0] = {15, 20};  // one free value after 14: separate pieces
  mark_touching(prev, qprev, line, qline);
  EXPECT_FALSE(q.d[0].merged || q.d[1].merged);
}

}  // namespace
}  // namespace quorda::sim
