// The converter's executable on the command line, run in a scratch folder with standard output
// going to a file: usage and option texts, exit statuses, the error file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/banner_text.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::kBanner;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Runs quorda with the given blank-separated arguments in the folder; standard output, the error
// stream and the exit status are kept.
struct ExeRun {
  ExeRun(const ScratchDir& dir, const std::string& args) {
    const testing::SplitResult r =
        testing::run_program_split(testing::quorda_exe(), testing::split_words(args), dir.path());
    status = r.status;
    out = r.out;
    err = r.err;
  }
  int status;
  std::string out, err;
};

// The calendar seconds of an asctime text "Www Mmm dd hh:mm:ss yyyy" read as UTC, or -1 when the
// text does not have that form.
int64_t asctime_seconds(const std::string& text) {
  static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  int day = 0, hour = 0, min = 0, sec = 0, year = 0;
  char wday[4] = {}, mon[4] = {};
  if (text.size() != 24 || std::sscanf(text.c_str(), "%3s %3s %2d %2d:%2d:%2d %4d", wday, mon, &day, &hour,
                                       &min, &sec, &year) != 7)
    return -1;
  const size_t m = kMonths.find(mon);
  if (m == std::string::npos || m % 3 != 0) return -1;
  // Days from 1970-01-01 to the date (civil calendar, proleptic Gregorian).
  const int mo = static_cast<int>(m / 3) + 1;
  const int y = year - (mo <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + min * 60 + sec;
}

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
  ExeRun r(dir, "/?");
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
  std::string log = testing::read_text(dir.file("QUORDA.ERR"));
  EXPECT_EQ(log.rfind("\nQPX starts at ", 0), 0u) << log;
  EXPECT_EQ(count(log, "\nQPX starts at "), 2u) << log;
  // The asctime text of the start time, in UTC: "Www Mmm dd hh:mm:ss yyyy\n".
  const std::string head = "\nQPX starts at ";
  size_t matched = 0;
  for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
    std::string text = log.substr(at + head.size(), 25);
    ASSERT_EQ(text.size(), 25u) << log;
    EXPECT_EQ(text[24], '\n') << log;
    const int64_t t = asctime_seconds(text.substr(0, 24));
    ASSERT_GE(t, 0) << text;
    EXPECT_GE(t, static_cast<int64_t>(before));
    EXPECT_LE(t, static_cast<int64_t>(after));
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
  std::string log = testing::read_text(dir.file("QUORDA.ERR"));
  std::string tagged = std::string("rd_mp: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n";
  ASSERT_GE(log.size(), tagged.size());
  EXPECT_EQ(log.substr(log.size() - tagged.size()), tagged) << log;
}

}  // namespace
}  // namespace quorda
