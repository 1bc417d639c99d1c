// The progress tick: the summary text, the redraw rate, ESC, other keys and termination signals.
#include "app/progress_tick.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "app/frame_state.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::FakePlatform;
using testing::TestRun;

// A platform whose precise clock the test sets to fractions of a second.
class FineClock : public FakePlatform {
 public:
  double now_precise() override { return time; }
  double time = 100.0;
};

// A tick with the figures of a run: the platform, the streams and the tick state of a test run.
struct Ticking {
  bool tick() { return progress_tick(clock, t.ctx->diag, state, figures()); }
  void draw() { draw_summary(clock, t.ctx->diag, state, figures()); }
  ProgressFigures figures() const { return {hyd_path, hyd_length, raw_path, raw_length, pos_a, pos_b}; }
  int summaries() {
    std::string out = t.out();
    int n = 0;
    for (size_t at = out.find("\nA:"); at != std::string::npos; at = out.find("\nA:", at + 1)) ++n;
    return n;
  }
  FineClock clock;
  TestRun t;
  TickState state;
  std::string hyd_path = "V10082_1.hyd";
  int32_t hyd_length = 0;
  std::string raw_path = "V10082_1.ab";
  int32_t raw_length = 0;
  int32_t pos_a = 0;
  int32_t pos_b = 0;
};

TEST(ProgressTick, SummaryIsFourRightAlignedLinesAtRow14) {
  Ticking k;
  k.hyd_path = "/srv/hyd/V10082_1.hyd";
  k.hyd_length = 123456;
  k.raw_path = "/srv/raw/V10082_1.ab";
  k.raw_length = 2147483647;
  k.pos_a = 5;
  k.pos_b = -12;
  EXPECT_TRUE(k.tick());
  EXPECT_EQ(k.t.out(),
            "/srv/hyd/V10082_1.hyd:   123456\n"
            "/srv/raw/V10082_1.ab:2147483647\n"
            "A:        5\n"
            "B:      -12\n");
  ASSERT_EQ(k.clock.moves.size(), 1u);
  EXPECT_EQ(k.clock.moves[0], std::make_pair(14, 0));
}

TEST(ProgressTick, RedrawsAtMostTenTimesASecond) {
  Ticking k;
  const double times[] = {100.0, 100.05, 100.099, 100.1, 100.15, 100.25, 103.0};
  for (double at : times) {
    k.clock.time = at;
    EXPECT_TRUE(k.tick());
  }
  EXPECT_EQ(k.summaries(), 4);  // at 100.0, 100.1, 100.25 and 103.0

  // The closing summary is drawn whatever the rate.
  k.draw();
  EXPECT_EQ(k.summaries(), 5);
}

TEST(ProgressTick, EscCancelsTheRunWithStatusZero) {
  Ticking k;
  k.clock.keys = {'x', kKeyEscSequence, kKeyEsc, 'y'};
  k.state.cancel_status = 99;
  EXPECT_TRUE(k.tick());  // 'x' is read and dropped
  k.clock.time += 0.1;
  EXPECT_TRUE(k.tick());  // an arrow key is not ESC
  k.clock.time += 0.05;
  EXPECT_TRUE(k.tick());  // the keyboard is not looked at between redraws
  k.clock.time += 0.05;
  EXPECT_FALSE(k.tick());
  EXPECT_EQ(k.state.cancel_status, kExitOk);
  ASSERT_EQ(k.clock.keys.size(), 1u);
  EXPECT_EQ(k.clock.keys.front(), 'y');
}

TEST(ProgressTick, TerminationSignalsCancelWithTheShellStatuses) {
  for (auto [sig, status] : {std::pair{SIGINT, kExitSigint}, std::pair{SIGTERM, kExitSigterm}}) {
    Ticking k;
    EXPECT_TRUE(k.tick());
    k.clock.signal = sig;
    // Acted on at once, even before the next redraw is due.
    EXPECT_FALSE(k.tick()) << sig;
    EXPECT_EQ(k.state.cancel_status, status) << sig;
  }
}

}  // namespace
}  // namespace quorda
