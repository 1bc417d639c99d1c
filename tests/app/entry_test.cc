// The start-up of a run: banner and its pause, the error file with the start line, the exit
// statuses of the entry.
#include "app/entry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/banner.h"
#include "support/banner_text.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::FakePlatform;
using testing::kBanner;
using testing::read_file;
using testing::TestRun;

// A clock that the banner's pause moves forward: whole seconds are the floor of a running time.
class SleepingClock : public FakePlatform {
 public:
  int64_t now() override { return static_cast<int64_t>(std::floor(time)); }
  void sleep_seconds(double s) override {
    slept += s;
    time += s;
  }
  double time = 1000.5;
};

int run(TestRun& t, std::vector<const char*> args) {
  args.insert(args.begin(), "quorda");
  return run_quorda(*t.ctx, static_cast<int>(args.size()), args.data());
}

TEST(Banner, ElevenLinesExactlyAfterClearingTheConsole) {
  TestRun t;
  show_banner(*t.ctx);
  EXPECT_EQ(t.out(), kBanner);
  EXPECT_EQ(t.platform.clears, 1);
  // Each box line is four blanks, '|', 66 characters and '|'.
  std::string b = kBanner;
  size_t start = b.find("    |");
  EXPECT_EQ(b.find('\n', start) - start, 4u + 1 + 66 + 1);
}

TEST(Banner, PausesOnlyOnATerminalUntilTheClockShowsTwoSecondsMore) {
  TestRun file_out;
  show_banner(*file_out.ctx);
  EXPECT_EQ(file_out.platform.slept, 0);

  SleepingClock clock;
  clock.terminal = true;
  TestRun t;
  auto on_clock = make_run_context(clock, nullptr);
  t.capture(on_clock->diag);
  show_banner(*on_clock);
  // From 1000.5 the whole-second clock shows 1002 after 1.5 seconds.
  EXPECT_NEAR(clock.slept, 1.5, 0.11);
  EXPECT_EQ(t.out(), kBanner);
}

TEST(Banner, PauseEndsEvenWhenTheClockStandsStill) {
  TestRun t;
  t.platform.terminal = true;  // the fake clock never moves
  show_banner(*t.ctx);
  EXPECT_GT(t.platform.slept, 1.9);
  EXPECT_LT(t.platform.slept, 3.0);
}

TEST(Entry, NoArgumentGivesBannerThenUsageAndStatusTwo) {
  TestRun t;
  EXPECT_EQ(run(t, {}), kExitUsage);
  EXPECT_EQ(t.out().substr(0, sizeof kBanner - 1), kBanner);
  EXPECT_NE(t.out().find("\nQUORDA  filespec  [ /switch ]\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(t.dir.file("QUORDA.ERR")));
}

TEST(Entry, WithoutSlashEEachRunAppendsTheStartLineToTheErrorFile) {
  TestRun first;
  first.platform.clock = 1000;  // Thu Jan  1 00:16:40 1970 UTC
  run(first, {"V10082_1.AB"});
  std::string log = testing::read_text(first.dir.file("QUORDA.ERR"));
  EXPECT_EQ(log.rfind("\nQPX starts at Thu Jan  1 00:16:40 1970\n", 0), 0u) << log;
  // The error stream of the run stays the file: what the run reports later follows the start line.
  errf(first.ctx->diag, "later \n");
  std::fflush(first.ctx->diag.err);
  log = testing::read_text(first.dir.file("QUORDA.ERR"));
  EXPECT_EQ(log.substr(log.size() - 7), "later \n");

  TestRun second;
  second.ctx->home = first.dir.path();
  second.platform.clock = 86400 * 365 + 3723;  // Fri Jan  1 01:02:03 1971
  run(second, {"V10082_1.AB"});
  std::string both = testing::read_text(first.dir.file("QUORDA.ERR"));
  EXPECT_EQ(both.rfind(log, 0), 0u);
  EXPECT_EQ(both.substr(log.size()).rfind("\nQPX starts at Fri Jan  1 01:02:03 1971\n", 0), 0u) << both;
}

TEST(Entry, WithSlashENoErrorFileAndNoStartLine) {
  TestRun t;
  run(t, {"V10082_1.AB", "/e"});
  EXPECT_FALSE(std::filesystem::exists(t.dir.file("QUORDA.ERR")));
  EXPECT_EQ(t.err().find("QPX starts at"), std::string::npos);
}

TEST(Entry, UnwritableErrorFileEndsTheRunWithStatusOneOnTheConsole) {
  TestRun t;
  std::filesystem::create_directory(t.dir.file("QUORDA.ERR"));  // a folder cannot be opened for append
  EXPECT_EQ(run(t, {"V10082_1.AB"}), 1);
  EXPECT_TRUE(std::filesystem::is_directory(t.dir.file("QUORDA.ERR")));
  EXPECT_NE(
      t.err().find("quorda: cannot write " + t.dir.file("QUORDA.ERR") + " (Is a directory): the run ends"),
      std::string::npos)
      << t.err();
}

}  // namespace
}  // namespace quorda
