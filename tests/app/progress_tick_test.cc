// The progress tick: start-up on the first call, the summary text, the redraw rate, ESC, other
// keys and termination signals.
#include "app/progress_tick.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "support/test_context.h"

namespace quorda {
namespace {

using testing::FakePlatform;
using testing::TestRun;
using testing::write_file;

// A platform whose precise clock the test sets to fractions of a second.
class FineClock : public FakePlatform {
 public:
  double now_precise() override { return time; }
  double time = 100.0;
};

std::string settings_text() {
  std::string text;
  for (const char* key :
       {"RAW_PATH", "HYD_PATH", "OVERWRITE", "HBR", "HBL", "HFR", "XSCAL_A", "DIST_A", "XSCAL_B", "DIST_B"}) {
    std::string l = key;
    l.resize(60, ' ');
    text += l + (std::string(key).find("PATH") != std::string::npos ? "dir" : "2") + "\n";
  }
  return text;
}

// A tick context whose start-up is done, so that only the tick's own work is seen.
struct Ticking {
  Ticking() {
    t.ctx->platform = &clock;
    t.ctx->tick.first_tick = 0;
  }
  int summaries() {
    std::string out = t.out();
    int n = 0;
    for (size_t at = out.find("\nA:"); at != std::string::npos; at = out.find("\nA:", at + 1)) ++n;
    return n;
  }
  FineClock clock;
  TestRun t;
};

TEST(ProgressTick, FirstTickReadsTheSettingsOpensTheRawFileAndDrawsAnEmptySummary) {
  TestRun t;
  write_file(t.dir.file("QUORDA.SET"), settings_text());
  std::string raw = t.dir.file("V10082_1.ab");
  write_file(raw, std::string(10, '\0'));
  t.ctx->cmd.filespec = raw;
  t.ctx->cmd.filespec_name = "V10082_1.ab";
  EXPECT_EQ(progress_tick(*t.ctx), 1);
  EXPECT_EQ(t.ctx->tick.first_tick, 0);
  EXPECT_EQ(t.ctx->settings.raw_path, "dir/");
  EXPECT_FLOAT_EQ(t.ctx->settings.dist_b, 2.0f);
  EXPECT_TRUE(t.ctx->raw.raw_file.is_open());
  EXPECT_EQ(t.out(), ":        0\n" + t.ctx->raw.mp_nam + ":        0\nA:        0\nB:        0\n");
  EXPECT_NE(t.ctx->raw.mp_nam, "");

  // The start-up happens once: a second tick does not read the (now missing) settings again.
  std::remove(t.dir.file("QUORDA.SET").c_str());
  EXPECT_EQ(progress_tick(*t.ctx), 1);
  EXPECT_EQ(t.err(), "");
}

TEST(ProgressTick, FirstTickWithoutSettingsEndsTheRunBeforeOpeningTheRawFile) {
  TestRun t;
  std::string raw = t.dir.file("V10082_1.ab");
  write_file(raw, std::string());
  t.ctx->cmd.filespec = raw;
  EXPECT_EQ(t.ends_with([&] { progress_tick(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), std::string(" rd_tak01: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n");
  EXPECT_FALSE(t.ctx->raw.raw_file.is_open());
}

TEST(ProgressTick, SummaryIsFourRightAlignedLinesAtRow14) {
  Ticking k;
  RunContext& c = *k.t.ctx;
  c.out.pix_nam = "/srv/hyd/V10082_1.hyd";
  c.out.pix_end = 123456;
  c.raw.mp_nam = "/srv/raw/V10082_1.ab";
  c.drv.rawend = 2147483647;
  c.drv.pos_a = 5;
  c.drv.pos_b = -12;
  EXPECT_EQ(progress_tick(c), 1);
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
  RunContext& c = *k.t.ctx;
  const double times[] = {100.0, 100.05, 100.099, 100.1, 100.15, 100.25, 103.0};
  for (double at : times) {
    k.clock.time = at;
    EXPECT_EQ(progress_tick(c), 1);
  }
  EXPECT_EQ(k.summaries(), 4);  // at 100.0, 100.1, 100.25 and 103.0

  // The closing summary is drawn whatever the rate.
  draw_summary(c);
  EXPECT_EQ(k.summaries(), 5);
}

TEST(ProgressTick, EscCancelsTheRunWithStatusZero) {
  Ticking k;
  k.clock.keys = {'x', kKeyEscSequence, kKeyEsc, 'y'};
  RunContext& c = *k.t.ctx;
  c.tick.cancel_status = 99;
  EXPECT_EQ(progress_tick(c), 1);  // 'x' is read and dropped
  k.clock.time += 0.1;
  EXPECT_EQ(progress_tick(c), 1);  // an arrow key is not ESC
  k.clock.time += 0.05;
  EXPECT_EQ(progress_tick(c), 1);  // the keyboard is not looked at between redraws
  k.clock.time += 0.05;
  EXPECT_EQ(progress_tick(c), 0);
  EXPECT_EQ(c.tick.cancel_status, kExitOk);
  ASSERT_EQ(k.clock.keys.size(), 1u);
  EXPECT_EQ(k.clock.keys.front(), 'y');
}

TEST(ProgressTick, TerminationSignalsCancelWithTheShellStatuses) {
  for (auto [sig, status] : {std::pair{SIGINT, kExitSigint}, std::pair{SIGTERM, kExitSigterm}}) {
    Ticking k;
    RunContext& c = *k.t.ctx;
    EXPECT_EQ(progress_tick(c), 1);
    k.clock.signal = sig;
    // Acted on at once, even before the next redraw is due.
    EXPECT_EQ(progress_tick(c), 0) << sig;
    EXPECT_EQ(c.tick.cancel_status, status) << sig;
  }
}

}  // namespace
}  // namespace quorda
