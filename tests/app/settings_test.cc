// The settings readers: fixed columns, first match, scanf-like conversions, missing file and key.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;
using testing::write_file;

// A settings line: the key and its description fill the first 60 columns, the value starts in
// column 61.
std::string line(const std::string& key, const std::string& value, const std::string& nl = "\n") {
  std::string l = key + " ........ description";
  l.resize(60, ' ');
  return l + value + nl;
}

std::string all_keys(const std::string& nl = "\n") {
  return line("RAW_PATH", "C:\\RAW", nl) + line("HYD_PATH", "/srv/hyd/", nl) + line("OVERWRITE", "1", nl) +
         line("HBR", "12.5", nl) + line("HBL", "-3.25", nl) + line("HFR", "7", nl) +
         line("XSCAL_A", "0.15", nl) + line("DIST_A", "225.0", nl) + line("XSCAL_B", "1e-1", nl) +
         line("DIST_B", "230.5", nl);
}

// What a folder setting becomes: the first text where '/' separates folders, the second on
// Windows.
const char* on_system(const char* posix, const char* windows) {
  return kDirSeparator == '/' ? posix : windows;
}

void write_settings(TestRun& t, const std::string& text) {
  write_file(t.dir.file("QUORDA.SET"), text);
}

TEST(ReadSettings, ReadsAllTenKeysAndEndsBothPathsInASeparator) {
  TestRun t;
  write_settings(t, "free text at the top\n" + all_keys());
  EXPECT_EQ(t.ends_with([&] { read_settings(*t.ctx); }), -1);
  const Settings& s = t.ctx->settings;
  EXPECT_EQ(s.raw_path, on_system("C:/RAW/", "C:\\RAW\\"));
  EXPECT_EQ(s.hyd_path, "/srv/hyd/");
  EXPECT_EQ(s.overwrite, 1);
  EXPECT_FLOAT_EQ(s.hbr, 12.5f);
  EXPECT_FLOAT_EQ(s.hbl, -3.25f);
  EXPECT_FLOAT_EQ(s.hfr, 7.0f);
  EXPECT_FLOAT_EQ(s.xscal_a, 0.15f);
  EXPECT_FLOAT_EQ(s.dist_a, 225.0f);
  EXPECT_FLOAT_EQ(s.xscal_b, 0.1f);
  EXPECT_FLOAT_EQ(s.dist_b, 230.5f);
  EXPECT_EQ(t.err(), "");
}

TEST(ReadSettings, LinesEndingInCarriageReturnGiveCleanValues) {
  TestRun t;
  write_settings(t, all_keys("\r\n"));
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, on_system("C:/RAW/", "C:\\RAW\\"));
  EXPECT_EQ(t.ctx->settings.hyd_path, "/srv/hyd/");
  EXPECT_FLOAT_EQ(t.ctx->settings.dist_b, 230.5f);
}

TEST(ReadSettings, ReadsHydPathAgainReplacingTheFirstReading) {
  TestRun t;
  write_settings(t, line("HYD_PATH", "first"));
  read_hyd_path(*t.ctx);
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("first/", "first\\"));
  write_settings(t, line("HYD_PATH", "second\\") + all_keys());
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("second/", "second\\"));
}

TEST(ReadSettings, LongValueIsCutAtColumn79AndTheRestIsALineOfItsOwn) {
  TestRun t;
  // 25 characters from column 61: the line is cut after column 79, the 6 left over come back as
  // a line that begins with "HBL", matches that key and ends before column 61: no value.
  write_settings(t, line("RAW_PATH", "abcdefghijklmnopqrsHBLxyz") + all_keys());
  t.ctx->settings.hbl = 4.5f;
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, on_system("abcdefghijklmnopqrs/", "abcdefghijklmnopqrs\\"));
  EXPECT_FLOAT_EQ(t.ctx->settings.hbl, 4.5f);
}

TEST(ReadSettings, ValueFillingColumns61To79IsReadWhole) {
  TestRun t;
  write_settings(t, line("RAW_PATH", "/a/b/c/d/e/f/g/h/ij") + all_keys());
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, on_system("/a/b/c/d/e/f/g/h/ij/", "/a/b/c/d/e/f/g/h/ij\\"));
}

TEST(ReadSettings, FirstMatchingLineWinsAndKeysMatchAsPrefixes) {
  TestRun t;
  write_settings(t, line("HBLX", "1.5") + line("HBR", "2.5") + all_keys());
  read_settings(*t.ctx);
  EXPECT_FLOAT_EQ(t.ctx->settings.hbl, 1.5f);
  EXPECT_FLOAT_EQ(t.ctx->settings.hbr, 2.5f);
}

TEST(ReadSettings, KeyPrecededByABlankIsNotFound) {
  TestRun t;
  std::string text = all_keys();
  text.replace(text.find("HBL"), 3, " HB");
  write_settings(t, text);
  EXPECT_EQ(t.ends_with([&] { read_settings(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), "rd_tk: could not find HBL \n");
}

TEST(ReadSettings, IntegerConversionFollowsScanf) {
  const std::pair<const char*, int32_t> cases[] = {
      {"1", 1},   {"01", 1}, {"010", 8},         {"0x1f", 31}, {"  -7 trailing", -7},
      {"yes", 5}, {"", 5},   {"99999999999", 5},
  };
  for (auto [text, want] : cases) {
    TestRun t;
    write_settings(t, line("OVERWRITE", text));
    t.ctx->settings.overwrite = 5;
    rd_tak(*t.ctx, "OVERWRITE", &t.ctx->settings.overwrite);
    EXPECT_EQ(t.ctx->settings.overwrite, want) << text;
  }
  TestRun fresh;
  write_settings(fresh, line("OVERWRITE", "yes"));
  rd_tak(*fresh.ctx, "OVERWRITE", &fresh.ctx->settings.overwrite);
  EXPECT_EQ(fresh.ctx->settings.overwrite, 0);
}

TEST(ReadSettings, FloatAndStringConversionsKeepTheValueWhenNothingConverts) {
  TestRun t;
  write_settings(t, line("HBR", "abc") + line("HFR", "   ") + line("RAW_PATH", "   "));
  t.ctx->settings.hbr = 2.0f;
  t.ctx->settings.hfr = 3.0f;
  t.ctx->settings.raw_path = "kept";
  rd_tak(*t.ctx, "HBR", &t.ctx->settings.hbr);
  rd_tak(*t.ctx, "HFR", &t.ctx->settings.hfr);
  rd_tak(*t.ctx, "RAW_PATH", &t.ctx->settings.raw_path);
  EXPECT_FLOAT_EQ(t.ctx->settings.hbr, 2.0f);
  EXPECT_FLOAT_EQ(t.ctx->settings.hfr, 3.0f);
  EXPECT_EQ(t.ctx->settings.raw_path, "kept");
  EXPECT_EQ(t.err(), "");
}

TEST(ReadSettings, MatchingLineEndingBeforeColumn61HasNoValue) {
  TestRun t;
  // A longer line read before leaves its characters in the line buffer; none of them may be
  // taken for the value of the short matching line.
  std::string stale = line("COMMENT", "9.75");
  write_settings(t, stale + "HBR 1.5\n" + stale + "HBL\n" + line("HFR", "x") + line("HFR", "6.5"));
  t.ctx->settings.hbr = 2.5f;
  t.ctx->settings.hbl = 3.5f;
  rd_tak(*t.ctx, "HBR", &t.ctx->settings.hbr);
  rd_tak(*t.ctx, "HBL", &t.ctx->settings.hbl);
  EXPECT_FLOAT_EQ(t.ctx->settings.hbr, 2.5f);
  EXPECT_FLOAT_EQ(t.ctx->settings.hbl, 3.5f);
}

TEST(ReadSettings, MissingFileEndsTheRunWithTheTaggedLine) {
  TestRun t;
  EXPECT_EQ(t.ends_with([&] { read_settings(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), std::string(" rd_tak01: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n");
}

TEST(ReadHydPath, MissingFileEndsTheRunWithTheTaggedLine) {
  TestRun t;
  EXPECT_EQ(t.ends_with([&] { read_hyd_path(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), std::string("rd_mp: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n");
}

TEST(ReadHydPath, MissingKeyEndsTheRunWithItsMessage) {
  TestRun t;
  write_settings(t, line("RAW_PATH", "x") + line("HYD_PATH_OLD", "y").substr(1));
  EXPECT_EQ(t.ends_with([&] { read_hyd_path(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), "rd_mp: could not find HYD_PATH \n");
}

TEST(ReadHydPath, AppendsASeparatorUnlessOnePresent) {
  TestRun t;
  write_settings(t, line("HYD_PATH", "D:\\HYD\\"));
  read_hyd_path(*t.ctx);
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("D:/HYD/", "D:\\HYD\\"));
  write_settings(t, line("HYD_PATH", "out"));
  read_hyd_path(*t.ctx);
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("out/", "out\\"));
}

TEST(ReadSettings, FoldersWrittenWithBackslashesNameTheSameFolderOnEverySystem) {
  TestRun t;
  write_settings(t, line("RAW_PATH", "campaign\\raw") + line("HYD_PATH", "out\\") + all_keys());
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, on_system("campaign/raw/", "campaign\\raw\\"));
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("out/", "out\\"));
}

}  // namespace
}  // namespace quorda
