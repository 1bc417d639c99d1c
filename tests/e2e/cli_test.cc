// The converter's executable on the command line, run in a scratch folder with standard output
// going to a file: usage and option texts, exit statuses, the error file.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/banner_text.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::kBanner;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Runs quorda with the given argument text in the folder; standard output, the error stream and
// the exit status are kept.
struct ExeRun {
  ExeRun(const ScratchDir& dir, const std::string& args) {
    std::string cmd =
        "cd '" + dir.path() + "' && '" QUORDA_EXE "' " + args + " >stdout.txt 2>stderr.txt </dev/null";
    int rc = std::system(cmd.c_str());
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    out = read_file(dir.file("stdout.txt"));
    err = read_file(dir.file("stderr.txt"));
  }
  int status;
  std::string out, err;
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Cli, NoArgumentPrintsTheUsageTextAndExitsTwo) {
  ScratchDir dir;
  ExeRun r(dir, "");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "\nInvokation: \n"
                       "\nQUORDA  filespec  [ /switch ]\n"
                       "\nfilespec:  path and name of distrometer raw data file (V*.AB)\n"
                       "\nswitches:\n"
                       "    /e ... print stderr to screen \n"
                       "    /c ... calibration: do not apply adjustment factors \n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("QUORDA.ERR")));
}

TEST(Cli, QuestionMarkPrintsTheOptionListAndExitsZero) {
  ScratchDir dir;
  ExeRun r(dir, "'/?'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "\nCommand line options are:\n\n"
                       "    /e ... print stderr to screen \n"
                       "    /c ... calibration: do not apply adjustment factors \n");
}

TEST(Cli, EachRunAppendsAStartLineToTheErrorFile) {
  ScratchDir dir;
  std::time_t before = std::time(nullptr);
  ExeRun(dir, "V10082_1.ab /c");
  ExeRun(dir, "V10082_1.ab /c");
  std::time_t after = std::time(nullptr);
  std::string log = read_file(dir.file("QUORDA.ERR"));
  EXPECT_EQ(log.rfind("\nQPX starts at ", 0), 0u) << log;
  EXPECT_EQ(count(log, "\nQPX starts at "), 2u) << log;
  // The asctime text of the start time, in UTC: "Www Mmm dd hh:mm:ss yyyy\n".
  const std::string head = "\nQPX starts at ";
  size_t matched = 0;
  for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
    std::string text = log.substr(at + head.size(), 25);
    ASSERT_EQ(text.size(), 25u) << log;
    EXPECT_EQ(text[24], '\n') << log;
    std::tm tm = {};
    const char* end = strptime(text.c_str(), "%a %b %e %H:%M:%S %Y", &tm);
    ASSERT_EQ(end, text.c_str() + 24) << text;
    std::time_t t = timegm(&tm);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
    ++matched;
  }
  EXPECT_EQ(matched, 2u);
}

TEST(Cli, SlashEKeepsTheErrorStreamOnTheConsole) {
  ScratchDir dir;
  ExeRun r(dir, "V10082_1.ab /e /c");
  EXPECT_FALSE(std::filesystem::exists(dir.file("QUORDA.ERR")));
  EXPECT_EQ(r.err.find("QPX starts at"), std::string::npos);
}

TEST(Cli, MissingSettingsFileEndsWithTheTaggedLineAndExitsOne) {
  ScratchDir dir;
  write_file(dir.file("V10082_1.ab"), std::string());
  ExeRun r(dir, "V10082_1.ab /c");
  EXPECT_EQ(r.status, 1);
  std::string log = read_file(dir.file("QUORDA.ERR"));
  std::string tagged = std::string("rd_mp: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n";
  ASSERT_GE(log.size(), tagged.size());
  EXPECT_EQ(log.substr(log.size() - tagged.size()), tagged) << log;
}

}  // namespace
}  // namespace quorda
