// The rainsim program: options, presets and reproducibility from the seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sim/truth_csv.h"
#include "support/process.h"
#include "support/test_context.h"

namespace {

using quorda::testing::read_file;
using quorda::testing::read_text;
using quorda::testing::ScratchDir;

// Runs rainsim with the blank-separated arguments; its output goes to the file `out_file`.
int run(const std::string& args, const std::string& out_file) {
  using quorda::testing::start_program;
  return quorda::testing::wait_program(
      start_program(quorda::testing::tool_path("rainsim"), quorda::testing::split_words(args), "", out_file));
}

size_t drops_in(const std::string& truth) {
  std::vector<quorda::sim::TruthRow> rows;
  std::string error;
  EXPECT_TRUE(quorda::sim::read_truth_csv(truth, &rows, &error)) << error;
  size_t n = 0;
  for (const auto& r : rows) n += r.kind == quorda::sim::ParticleKind::kDrop;
  return n;
}

TEST(Rainsim, HelpListsTheOptionsAndBadOptionsAreRefused) {
  ScratchDir dir;
  EXPECT_EQ(run("--help", dir.file("o")), 0);
  const std::string help = read_file(dir.file("o"));
  for (const char* opt :
       {"--preset", "--seed", "--rate", "--dist", "--clutter", "--line-fr", "--hbl", "--xs-a"})
    EXPECT_NE(help.find(opt), std::string::npos) << opt;
  EXPECT_EQ(run("--preset drizzle", dir.file("o")), 2);
  EXPECT_NE(read_file(dir.file("o")).find("unknown preset drizzle"), std::string::npos);
  EXPECT_EQ(run("--rate", dir.file("o")), 2);
  EXPECT_EQ(run("--start 25:00:00", dir.file("o")), 2);
  EXPECT_EQ(run("--start 23:59:00 --duration 120", dir.file("o")), 2);
  EXPECT_EQ(run("--year 2025 --day 366", dir.file("o")), 2);
  EXPECT_EQ(run("--dmin 2 --dmax 1", dir.file("o")), 2);
}

TEST(Rainsim, EachBadWordOfTheCommandLineIsNamedInItsMessage) {
  ScratchDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"--rate", "missing value for --rate"},
      {"--quiet --seed", "missing value for --seed"},
      {"--bogus", "unknown option --bogus"},
      {"--bogus 1", "unknown option --bogus"},
      {"--seed 12x", "bad integer for --seed: 12x"},
      {"--rate fast", "bad number for --rate: fast"},
      {"--start 1:2", "bad time of day for --start: 1:2"},
      {"--dist beta", "unknown distribution beta"},
      {"--clutter-cam c", "--clutter-cam takes a, b or ab"},
      {"--year 1969", "the year must lie in 1970 to 2105"},
      {"--centre-pix 512", "line frequency must be positive and the centre pixel 8 to 511"},
      {"--raw-path 12345678901234567890",
       "settings directories must be blank-free and at most 19 characters"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args, dir.file("o")), 2) << args;
    EXPECT_EQ(read_text(dir.file("o")),
              std::string("rainsim: ") + message + "\n(rainsim --help lists the options)\n")
        << args;
  }
}

TEST(Rainsim, HelpGroupsTheOptionsUnderTheirHeadings) {
  ScratchDir dir;
  EXPECT_EQ(run("-h", dir.file("o")), 0);
  const std::string help = read_text(dir.file("o"));
  EXPECT_EQ(help.rfind("usage: rainsim [options]\n", 0), 0u);
  size_t at = 0;
  for (const char* line :
       {"  --preset NAME ", "  --year Y --day D ", "Rain:\n  --start HH:MM:SS ", "  --dmin D --dmax D ",
        "Instrument:\n  --line-fr F ", "  --hbl H --hbr H --hfr H ", "Records:\n  --header-second S ",
        "Settings file values:\n  --raw-path P --hyd-path P ", "  --quiet             no summary\n"}) {
    const size_t found = help.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;
  }
  EXPECT_EQ(help.size(), at + std::string("  --quiet             no summary\n").size());
}

TEST(Rainsim, SamplePresetIsReproducibleFromTheSeedAndWritesTheFullSet) {
  ScratchDir dir;
  ASSERT_EQ(run("--preset sample --seed 5 --out " + dir.file("a"), dir.file("o")), 0)
      << read_file(dir.file("o"));
  ASSERT_EQ(run("--preset sample --seed 5 --out " + dir.file("b"), dir.file("o")), 0);
  ASSERT_EQ(run("--preset sample --seed 6 --out " + dir.file("c"), dir.file("o")), 0);
  for (const char* f : {"V26150_1.ab", "truth.csv", "QUORDA.SET", "corrfact.dat"}) {
    const std::string a = read_file(dir.file("a/") + f);
    EXPECT_FALSE(a.empty()) << f;
    EXPECT_EQ(a, read_file(dir.file("b/") + f)) << f;
  }
  EXPECT_NE(read_file(dir.file("a/V26150_1.ab")), read_file(dir.file("c/V26150_1.ab")));
  const size_t n = drops_in(dir.file("a/truth.csv"));
  EXPECT_GE(n, 2000u);
  EXPECT_LE(n, 10000u);
}

TEST(Rainsim, HeavyPresetIsReproducibleAndRainsOverAMillionDropsInItsFiveHours) {
  // Twenty seconds of the heavy preset, scaled to its five hours.
  ScratchDir dir;
  const std::string args = "--preset heavy --seed 3 --duration 20 --year 2027 --day 9 --out ";
  ASSERT_EQ(run(args + dir.file("a"), dir.file("o")), 0) << read_file(dir.file("o"));
  ASSERT_EQ(run(args + dir.file("b"), dir.file("o")), 0);
  const std::string raw = read_file(dir.file("a/V27009_1.ab"));
  EXPECT_FALSE(raw.empty());
  EXPECT_EQ(raw, read_file(dir.file("b/V27009_1.ab")));
  EXPECT_GE(drops_in(dir.file("a/truth.csv")) * (5 * 3600 / 20), 1000000u);
}

// rainsim replaces no file it did not write unless given --force, and a run that fails leaves
// nothing behind.
TEST(Rainsim, KeepsFilesItDidNotWriteAndLeavesNothingWhenItFails) {
  ScratchDir dir;
  quorda::testing::write_file(dir.file("QUORDA.SET"), "mine\n");
  EXPECT_EQ(run("--quiet --duration 5 --out " + dir.path(), dir.file("o")), 1);
  EXPECT_NE(read_file(dir.file("o")).find("QUORDA.SET exists: not replaced"), std::string::npos);
  EXPECT_EQ(read_file(dir.file("QUORDA.SET")), "mine\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // QUORDA.SET and o
  EXPECT_EQ(run("--quiet --duration 5 --force --out " + dir.path(), dir.file("o")), 0);
  EXPECT_NE(read_file(dir.file("QUORDA.SET")), "mine\n");
  EXPECT_EQ(run("--quiet --duration 5 --truth " + dir.file("none/x.csv") + " --out " + dir.file("day"),
                dir.file("o")),
            1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("day")));
}

}  // namespace
