// Splitting a raw file's path, whose name names the output set: a drive letter, folders written
// with '\' or '/', and dots in folders and names.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace quorda {
namespace {

TEST(SplitPath, GivesDriveFolderNameAndTheExtensionAfterTheLastDot) {
  struct Case {
    const char* path;
    PathParts want;
  };
  const Case cases[] = {
      {"V26150_1.ab", {"", "", "V26150_1", ".ab"}},
      {"/data/2026/V26150_1.ab", {"", "/data/2026/", "V26150_1", ".ab"}},
      {"D:\\DATA\\V99365_1.AB", {"D:", "\\DATA\\", "V99365_1", ".AB"}},
      {"raw\\2026/V26150_1.ab", {"", "raw\\2026/", "V26150_1", ".ab"}},
      {"C:V26150_1.ab", {"C:", "", "V26150_1", ".ab"}},
      {"run.1\\V26150_1.copy.ab", {"", "run.1\\", "V26150_1.copy", ".ab"}},
      {"run.1/V26150_1", {"", "run.1/", "V26150_1", ""}},
  };
  for (const Case& c : cases) {
    const PathParts got = split_path(c.path);
    EXPECT_EQ(got.drive, c.want.drive) << c.path;
    EXPECT_EQ(got.dir, c.want.dir) << c.path;
    EXPECT_EQ(got.name, c.want.name) << c.path;
    EXPECT_EQ(got.ext, c.want.ext) << c.path;
  }
}

}  // namespace
}  // namespace quorda
