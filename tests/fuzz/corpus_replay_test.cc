// The seed corpus of every fuzz harness, replayed through the harness: the inputs that once
// found a fault stay in it, so the sanitizer build of the suite keeps checking them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace quorda::fuzz {
namespace {

struct Harness {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Harness kHarnesses[] = {
    {"line_block", line_block}, {"raw_day", raw_day}, {"settings", settings}, {"corrfact", corrfact},
    {"output_set", output_set}, {"hydinfo", hydinfo}, {"recovery", recovery},
};

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
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

}  // namespace
}  // namespace quorda::fuzz
