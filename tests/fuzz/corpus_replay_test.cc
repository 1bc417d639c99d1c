// The seed corpus of every fuzz harness, replayed through the harness: the inputs that once
// found a fault stay in it, so the sanitizer build of the suite keeps checking them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/run_end.h"
#include "fuzz/fuzz_support.h"

namespace quorda::fuzz {
namespace {

struct Harness {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Harness kHarnesses[] = {
    {"line_block", line_block}, {"raw_day", raw_day}, {"settings", settings}, {"corrfact", corrfact},
    {"output_set", output_set}, {"hydinfo", hydinfo}, {"recovery", recovery}, {"rainprod", rainprod},
};

std::vector<uint8_t> bytes_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> corpus_of(const char* harness) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path dir = std::filesystem::path(QUORDA_FUZZ_CORPUS_DIR) / harness;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class CorpusReplay : public ::testing::TestWithParam<Harness> {};

TEST_P(CorpusReplay, EveryInputRunsThrough) {
  const Harness& h = GetParam();
  const std::vector<std::filesystem::path> files = corpus_of(h.name);
  ASSERT_FALSE(files.empty()) << "no seeds for " << h.name;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> bytes = bytes_of(path);
    EXPECT_EQ(h.run(bytes.data(), bytes.size()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, CorpusReplay, ::testing::ValuesIn(kHarnesses),
                         [](const ::testing::TestParamInfo<Harness>& i) {
                           return std::string(i.param.name);
                         });

TEST(SplitFiles, GivesTheFilesBetweenSeparatorsAndMarksTheMissingOnes) {
  const std::vector<uint8_t> joined = join_files({{1, 2}, {}, {3}});
  const std::vector<InputFile> f = split_files(joined.data(), joined.size(), 4);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_TRUE(f[0].present && f[1].present && f[2].present);
  EXPECT_FALSE(f[3].present);
  EXPECT_EQ(std::vector<uint8_t>(f[0].bytes.begin(), f[0].bytes.end()), (std::vector<uint8_t>{1, 2}));
  EXPECT_TRUE(f[1].bytes.empty());
  EXPECT_EQ(std::vector<uint8_t>(f[2].bytes.begin(), f[2].bytes.end()), (std::vector<uint8_t>{3}));
  // More files than asked for stay in the last one.
  const std::vector<InputFile> two = split_files(joined.data(), joined.size(), 2);
  EXPECT_EQ(two[1].bytes.size(), joined.size() - 2 - (sizeof kFileSeparator - 1));
}

// The harnesses' conversions run one after another in memory kept from run to run (the context,
// the raw cursors' windows): a run must give the same set whatever ran before it.
TEST(Conversions, ARunLeavesTheSameSetWhateverRanBeforeIt) {
  const std::filesystem::path dir = std::filesystem::path(QUORDA_FUZZ_CORPUS_DIR) / "raw_day";
  // The raw files of two seeds (after their mode and share bytes): plain rain, and rain with
  // clutter in camera B.
  const std::vector<uint8_t> plain = bytes_of(dir / "seed-plain");
  const std::vector<uint8_t> clutter = bytes_of(dir / "seed-clutter-resumed-half");
  ASSERT_GT(plain.size(), 2u);
  ASSERT_GT(clutter.size(), 2u);
  Conversions& runs = conversions();
  struct Set {
    int status;
    std::vector<uint8_t> hyd, hd, abh;
  };
  const auto convert = [&runs](const std::vector<uint8_t>& input) {
    runs.clear();
    runs.put(kRawName, {true, std::span<const uint8_t>(input).subspan(2)});
    Set s;
    s.status = runs.convert(20000);
    const auto copy = [&runs](const char* name) {
      const std::span<const uint8_t> b = runs.bytes(name);
      return std::vector<uint8_t>(b.begin(), b.end());
    };
    s.hyd = copy("V26150_1.hyd");
    s.hd = copy("V26150_1.hd");
    s.abh = copy("V26150_1.abh");
    return s;
  };
  const Set first = convert(plain);
  EXPECT_EQ(first.status, kExitOk);
  EXPECT_FALSE(first.hyd.empty());
  EXPECT_FALSE(first.hd.empty());
  EXPECT_FALSE(first.abh.empty());
  const Set other = convert(clutter);
  EXPECT_EQ(other.status, kExitOk);
  EXPECT_NE(other.hyd, first.hyd);
  const Set again = convert(plain);
  EXPECT_EQ(again.status, kExitOk);
  EXPECT_EQ(again.hyd, first.hyd);
  EXPECT_EQ(again.hd, first.hd);
  EXPECT_EQ(again.abh, first.abh);
}

}  // namespace
}  // namespace quorda::fuzz
