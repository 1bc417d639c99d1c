// Opening the raw file of the run and its day number.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "rawin/raw_file.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;
using testing::write_file;

TEST(RawDayFromName, YearAndDayComeFromCharactersTwoToSix) {
  EXPECT_EQ(raw_day_from_name("V10082_1.ab"), 10082);
  EXPECT_EQ(raw_day_from_name("V99365_1.AB"), 99365);
  EXPECT_EQ(raw_day_from_name("X10082.ab"), 10082);  // the first character is not examined
  EXPECT_EQ(raw_day_from_name("V00001_1.ab"), 1);
}

TEST(RawDayFromName, EachSliceIsReadAsTheCLibraryReadsAnInteger) {
  EXPECT_EQ(raw_day_from_name("V 7 12_1.ab"), 7012);   // leading blanks
  EXPECT_EQ(raw_day_from_name("V-1-05_1.ab"), -1005);  // signs
  EXPECT_EQ(raw_day_from_name("V+3+4x_1.ab"), 3004);   // digits up to the first non-digit
  EXPECT_EQ(raw_day_from_name("Vab123_1.ab"), 123);    // no digits give 0
  EXPECT_EQ(raw_day_from_name("V1a9z7_1.ab"), 1009);
  EXPECT_EQ(raw_day_from_name("V12"), 12000);  // a short name gives what it has
  EXPECT_EQ(raw_day_from_name("V"), 0);
  EXPECT_EQ(raw_day_from_name(""), 0);
}

TEST(OpenRawFile, OpensThePathAsWrittenAndSetsTheDay) {
  TestRun t;
  std::string path = t.dir.file("V99365_1.AB");
  write_file(path, std::string("\x01\x00\x00\x00", 4));
  t.ctx->cmd.filespec = path;
  t.ctx->cmd.filespec_name = "V99365_1.AB";
  EXPECT_EQ(t.ends_with([&] { open_raw_file(t.ctx->rawin_part()); }), -1);
  EXPECT_TRUE(t.ctx->raw.raw_file.is_open());
  EXPECT_EQ(t.ctx->raw.raw_file_path, path);
  EXPECT_EQ(t.ctx->raw.raw_day, 99365);
  EXPECT_EQ(t.ctx->raw.raw_day_at_open, 99365);
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(t.out(), "");  // trace lines are switched off
}

TEST(OpenRawFile, MissingFileEndsTheRunWithMessageAndTag) {
  TestRun t;
  std::string path = t.dir.file("V10082_1.ab");
  t.ctx->cmd.filespec = path;
  t.ctx->cmd.filespec_name = "V10082_1.ab";
  EXPECT_EQ(t.ends_with([&] { open_raw_file(t.ctx->rawin_part()); }), 1);
  EXPECT_EQ(t.err(), "rawfil01: could not open " + path + " \nrawfil02: " + std::strerror(ENOENT) + "\n");
  EXPECT_FALSE(t.ctx->raw.raw_file.is_open());
  EXPECT_EQ(t.ctx->raw.raw_day, 10082);
  EXPECT_EQ(t.ctx->raw.raw_day_at_open, 0);
}

}  // namespace
}  // namespace quorda
