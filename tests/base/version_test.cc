// The version every program reports: the project's release number and the commit of the build.
#include "base/version.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace quorda {
namespace {

TEST(Version, CarriesTheProjectVersionAndTheCommit) {
  EXPECT_EQ(version_number(), QUORDA_PROJECT_VERSION);
  const std::string commit(version_commit());
  EXPECT_TRUE(commit == "unknown" ||
              std::regex_match(commit, std::regex("[0-9a-zA-Z.-]*[0-9a-f]{7,}(-dirty)?")))
      << commit;
  EXPECT_EQ(version_text(), "quorda " QUORDA_PROJECT_VERSION " (commit " + commit + ")");
}

}  // namespace
}  // namespace quorda
