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
         line("HBR", "12.5", nl) + line("HBL", "3.25", nl) + line("HFR", "7", nl) +
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
  EXPECT_FLOAT_EQ(s.hbl, 3.25f);
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

TEST(ReadSettings, ValueFillingColumns61To79IsReadWhole) {
  TestRun t;
  write_settings(t, line("RAW_PATH", "/a/b/c/d/e/f/g/h/ij") +
                        line("HYD_PATH", "/a/b/c/d/e/f/g/h/kl  remark") + all_keys());
  read_settings(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, on_system("/a/b/c/d/e/f/g/h/ij/", "/a/b/c/d/e/f/g/h/ij\\"));
  EXPECT_EQ(t.ctx->settings.hyd_path, on_system("/a/b/c/d/e/f/g/h/kl/", "/a/b/c/d/e/f/g/h/kl\\"));
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
      {"1", 1}, {"01", 1}, {"010", 8}, {"0x1f", 31}, {"  -7 trailing", -7},
  };
  for (auto [text, want] : cases) {
    TestRun t;
    write_settings(t, line("OVERWRITE", text));
    read_setting(*t.ctx, "OVERWRITE", &t.ctx->settings.overwrite);
    EXPECT_EQ(t.ctx->settings.overwrite, want) << text;
  }
}

// Each value the run uses must stand readable from column 61; what cannot be read ends the run
// with the file, the line, the column and what stands there.
TEST(ReadSettings, UnreadableValuesAreRefusedNamingLineColumnAndText) {
  struct Case {
    int line_no;
    const char* key;
    std::string text;   // the key's line as written
    const char* found;  // what the message says stands there
  };
  const Case cases[] = {
      {4, "HBR", "HBR 6.3000\n", "the line ending at column 10: \"HBR 6.3000\""},
      {4, "HBR", "HBR\n", "the line ending at column 3: \"HBR\""},
      {1, "RAW_PATH", "RAW_PATH\t\t\t\t\t\t\t/data\n", "a tab in column 9"},
      {2, "HYD_PATH", "HYD_PATH ../out\n", "\"../out\" in column 10, before it"},
      {4, "HBR", line("HBR", "6.3\t"), "a tab in column 64"},
      {2, "HYD_PATH", line("HYD_PATH", std::string(19, ' ') + "out"),
       "only blanks up to column 79, where the line is cut"},
      {4, "HBR", line("HBR", "   "), "only blanks"},
      {1, "RAW_PATH", line("RAW_PATH", "/"), "\"/\", which names no folder"},
      {2, "HYD_PATH", line("HYD_PATH", "\\"), "\"\\\", which names no folder"},
      {1, "RAW_PATH", line("RAW_PATH", "abcdefghijklmnopqrsHBLxyz"),
       "\"abcdefghijklmnopqrs\", which runs past column 79, where the line is cut"},
      {4, "HBR", line("HBR", "abc"), "\"abc\", which is not a number"},
      {4, "HBR", line("HBR", "6,3"), "\"6,3\", which is not a number"},
      {3, "OVERWRITE", line("OVERWRITE", "yes"), "\"yes\", which is not a 32-bit integer"},
      {3, "OVERWRITE", line("OVERWRITE", "99999999999"), "\"99999999999\", which is not a 32-bit integer"},
      {6, "HFR", line("HFR", "0"), "\"0\", which is not a finite number above 0"},
      {5, "HBL", line("HBL", "-3.25"), "\"-3.25\", which is not a finite number above 0"},
      {7, "XSCAL_A", line("XSCAL_A", "nan"), "\"nan\", which is not a finite number above 0"},
      {10, "DIST_B", line("DIST_B", "inf"), "\"inf\", which is not a finite number above 0"},
  };
  for (const Case& c : cases) {
    TestRun t;
    std::string text = all_keys();
    const size_t at = text.find(c.key);
    text.replace(at, text.find('\n', at) + 1 - at, c.text);
    write_settings(t, text);
    EXPECT_EQ(t.ends_with([&] { read_settings(*t.ctx); }), kExitFatal) << c.text;
    EXPECT_EQ(t.err(), t.dir.file("QUORDA.SET") + " line " + std::to_string(c.line_no) + ": the value of " +
                           c.key + " must start in column 61; found " + c.found + "\n");
  }
}

// What stored files rely on still converts: text after the value, no folder for the current one,
// and the pixel widths and camera distances, which only OVERWRITE 1 uses, in any form otherwise.
TEST(ReadSettings, TextAfterAValueEmptyFoldersAndUnusedGeometryAreTakenAsBefore) {
  TestRun t;
  write_settings(t, "RAW_PATH  the raw data\n" + line("HYD_PATH", "  ") + line("OVERWRITE", "0") +
                        line("HBR", "6.3 mm") + line("XSCAL_A", "n/a") + "DIST_A\n" + line("XSCAL_B", "0") +
                        line("DIST_B", "-1") + all_keys());
  t.ctx->settings.xscal_a = 2.0f;
  t.ctx->settings.dist_a = 3.0f;
  read_settings(*t.ctx);
  EXPECT_EQ(t.err(), "");
  EXPECT_FLOAT_EQ(t.ctx->settings.hbr, 6.3f);
  EXPECT_FLOAT_EQ(t.ctx->settings.xscal_a, 2.0f);
  EXPECT_FLOAT_EQ(t.ctx->settings.dist_a, 3.0f);
  EXPECT_FLOAT_EQ(t.ctx->settings.dist_b, -1.0f);
  EXPECT_EQ(t.ctx->settings.raw_path, "");
  EXPECT_EQ(t.ctx->settings.hyd_path, "");
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
