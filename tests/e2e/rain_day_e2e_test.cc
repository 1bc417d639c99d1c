// The converter on a simulated rain day, compared drop by drop with the simulator's truth table,
// and with the terminal fall speeds of rain drops measured in the laboratory.
//
// The test runs the real programs: rainsim writes the sample day into a scratch folder and quorda
// converts it there. While the converter cannot yet convert a day (it writes no hydrometeor file)
// the tests are skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/truth_compare.h"
#include "sim/truth_csv.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda::e2e {
namespace {

// Simulates a day with rainsim into folder `out`; returns the exit status.
int simulate(const std::vector<std::string>& args, const std::string& out, const std::string& log) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--quiet", "--out", out});
  return quorda::testing::wait_program(
      quorda::testing::start_program(quorda::testing::tool_path("rainsim"), all, "", log));
}

// Converts the raw day file of folder `dir`; the console output goes to console.txt there.
int convert(const std::string& dir) {
  const std::string log = dir + "/console.txt";
  return quorda::testing::wait_program(
      quorda::testing::start_program(quorda::testing::quorda_exe(), {"V26150_1.ab"}, dir, log));
}

// The sample day, simulated and converted once for all tests of the suite.
struct ConvertedDay {
  quorda::testing::ScratchDir dir;
  int sim_status = -1;
  int status = -1;
  bool converted = false;
  std::vector<sim::TruthRow> truth;
  std::vector<Particle> particles;
  double line_fr = 0;
  std::string error;
  int64_t last_line_a = 0;
};

class RainDayEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    day_ = new ConvertedDay;
    ConvertedDay& d = *day_;
    const std::string out = d.dir.path() + "sample";
    d.sim_status = simulate({"--preset", "sample", "--seed", "2026"}, out, d.dir.file("rainsim.txt"));
    if (d.sim_status != 0) return;
    d.status = convert(out);
    d.converted = std::filesystem::exists(out + "/V26150_1.hyd");
    if (!sim::read_truth_csv(out + "/truth.csv", &d.truth, &d.error)) return;
    for (const auto& r : d.truth) d.last_line_a = std::max(d.last_line_a, r.last_line[0]);
    if (d.converted && !read_hyd(out + "/V26150_1.hyd", &d.particles, &d.line_fr, &d.error))
      d.converted = false;
  }
  static void TearDownTestSuite() {
    delete day_;
    day_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(day_->sim_status, 0) << quorda::testing::read_file(day_->dir.file("rainsim.txt"));
    ASSERT_TRUE(day_->error.empty()) << day_->error;
    if (!day_->converted)
      GTEST_SKIP() << "the converter wrote no hydrometeor file yet (exit status " << day_->status << ")";
    ASSERT_EQ(day_->status, 0) << quorda::testing::read_text(day_->dir.path() + "sample/QUORDA.ERR");
  }
  static ConvertedDay* day_;
};
ConvertedDay* RainDayEndToEnd::day_ = nullptr;

TEST_F(RainDayEndToEnd, FindsTheIsolatedDropsAtTheirSizeAndSpeedAndInventsNoParticle) {
  const ConvertedDay& d = *day_;
  EXPECT_EQ(d.line_fr, 55000.0);
  const Comparison c = compare(d.truth, d.particles, d.last_line_a);
  const double diam_err = median(c.diam_err), speed_err = median(c.speed_err);
  std::printf(
      "sample day: %zu particles, %zu of %zu isolated drops found (%.1f%%), median error diameter %.2f%%, "
      "speed %.2f%%, %zu particles without a drop\n",
      d.particles.size(), c.found, c.expected, 100 * c.found_share(), 100 * diam_err, 100 * speed_err,
      c.unexplained);
  ASSERT_GT(c.expected, 500u);
  EXPECT_GE(c.found_share(), 0.95);
  EXPECT_LE(diam_err, 0.02);
  EXPECT_LE(speed_err, 0.01);
  EXPECT_EQ(c.unexplained, 0u);

  // "res" holds one line per evaluated pair, also for pairs whose record was refused.
  const std::string res = quorda::testing::read_text(d.dir.path() + "sample/res");
  size_t lines = 0;
  for (char ch : res) lines += ch == '\n';
  EXPECT_GE(lines, d.particles.size());
}

TEST_F(RainDayEndToEnd, MeasuredSpeedsFollowTheLaboratoryTerminalSpeeds) {
  expect_terminal_speeds(day_->particles, "sample day");
}

// The heavy day (over a million drops; about 20 s and 200 MB of scratch space), run on demand:
//   quorda_tests --gtest_also_run_disabled_tests --gtest_filter='*HeavyDay*'
TEST(RainDayEndToEndHeavy, DISABLED_HeavyDayConvertsCompletelyAndMeasuresItsIsolatedDrops) {
  quorda::testing::ScratchDir dir;
  const std::string out = dir.path() + "heavy";
  ASSERT_EQ(simulate({"--preset", "heavy", "--seed", "1"}, out, dir.file("rainsim.txt")), 0);
  const int status = convert(out);
  ASSERT_EQ(status, 0) << quorda::testing::read_text(out + "/QUORDA.ERR");
  std::vector<sim::TruthRow> truth;
  std::vector<Particle> parts;
  std::string error;
  double line_fr = 0;
  ASSERT_TRUE(sim::read_truth_csv(out + "/truth.csv", &truth, &error)) << error;
  ASSERT_TRUE(read_hyd(out + "/V26150_1.hyd", &parts, &line_fr, &error)) << error;
  int64_t last_line_a = 0;
  size_t drops = 0;
  for (const auto& r : truth) {
    last_line_a = std::max(last_line_a, r.last_line[0]);
    drops += r.kind == sim::ParticleKind::kDrop;
  }
  const Comparison c = compare(truth, parts, last_line_a);
  std::printf(
      "heavy day: %zu drops, %zu particles, %zu of %zu isolated drops found (%.1f%%), median error diameter "
      "%.2f%%, speed %.2f%%, %zu particles without a drop\n",
      drops, parts.size(), c.found, c.expected, 100 * c.found_share(), 100 * median(c.diam_err),
      100 * median(c.speed_err), c.unexplained);
  EXPECT_GE(drops, 1000000u);
  EXPECT_GE(parts.size(), drops * 9 / 10);
  EXPECT_GE(c.found_share(), 0.95);
  EXPECT_LE(median(c.diam_err), 0.02);
  EXPECT_LE(median(c.speed_err), 0.01);
  expect_terminal_speeds(parts, "heavy day");
}

}  // namespace
}  // namespace quorda::e2e
