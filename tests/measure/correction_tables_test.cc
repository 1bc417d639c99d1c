// The correction tables: reading corrfact.dat, the interpolation, the "/c" switch, and the files
// that are refused.
#include "measure/correction_tables.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;
using testing::write_file;

using Row = std::vector<double>;

// A value line: a ten-character label and seven-character fields.
std::string value_line(const char* label, const Row& v) {
  std::string s = label;
  s.resize(10, ' ');
  for (double x : v) {
    char f[16];
    std::snprintf(f, sizeof f, "%7.2f", x);
    s += f;
  }
  return s + "\n";
}

const Row kDiam = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const Row kZero(10, 0.0);
const Row kTenAbove = {0, 10, 10, 10, 10, 10, 10, 10, 10, 10};

std::string corrfact(const Row& d, const Row& ha, const Row& hb, const Row& wa, const Row& wb) {
  return "correction factors\n" + std::string("deviation in percent\n") + value_line("diameter:", d) +
         "----\n" + value_line("height A:", ha) + value_line("height B:", hb) + value_line("width A :", wa) +
         value_line("width B :", wb);
}

struct TablesRun : TestRun {
  void file(const std::string& content) { write_file(dir.file("corrfact.dat"), content); }
  // Runs the loader; returns the exit status or -1 when the run goes on.
  int load() {
    return ends_with([&] { load_correction_tables(ctx->measure_part(), ctx->cmd.calib != 0); });
  }
  const CorrTables& corr() { return ctx->corr; }
};

TEST(Tables, InterpolatesOnTheMeasuredSizeAxis) {
  TablesRun t;
  t.file(corrfact(kDiam, kTenAbove, kZero, kZero, kZero));
  ASSERT_EQ(t.load(), -1);
  const float* h = t.corr().corr_h_a;
  EXPECT_EQ(h[10], 1.0f);              // x = 1.0 = s[0], q = 0
  EXPECT_NEAR(h[16], 1 / 1.05, 1e-6);  // x = 1.6, q = 5
  // Below s[0] the first segment is extended: x = 0 gives q = 0 + 10 * (0 - 1) / 1.2.
  EXPECT_NEAR(h[0], 1 / (1 - 10.0 / 120), 1e-5);
  EXPECT_NEAR(h[22], 1 / 1.1, 1e-6);   // x = 2.2 = s[1]
  EXPECT_NEAR(h[109], 1 / 1.1, 1e-6);  // x = 10.9, q = 10
  for (int k = 110; k < kCorrEntries; ++k) ASSERT_EQ(h[k], h[109]) << k;
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(t.out(), "");
}

TEST(Tables, EachTableComesFromItsOwnRow) {
  TablesRun t;
  const Row below = {0, -10, -10, -10, -10, -10, -10, -10, -10, -10};
  const Row twenty(10, 20.0);
  t.file(corrfact(kDiam, kZero, kTenAbove, below, twenty));
  ASSERT_EQ(t.load(), -1);
  EXPECT_EQ(t.corr().corr_h_a[50], 1.0f);
  EXPECT_NEAR(t.corr().corr_h_b[50], 1 / 1.1, 1e-6);
  EXPECT_NEAR(t.corr().corr_w_a[50], 1 / 0.9, 1e-6);
  EXPECT_NEAR(t.corr().corr_w_b[50], 1 / 1.2, 1e-6);
}

TEST(Tables, AllZeroDeviationsGiveOneEverywhere) {
  TablesRun t;
  t.file(corrfact(kDiam, kZero, kZero, kZero, kZero));
  ASSERT_EQ(t.load(), -1);
  for (int k = 0; k < kCorrEntries; ++k) {
    ASSERT_EQ(t.corr().corr_h_a[k], 1.0f);
    ASSERT_EQ(t.corr().corr_h_b[k], 1.0f);
    ASSERT_EQ(t.corr().corr_w_a[k], 1.0f);
    ASSERT_EQ(t.corr().corr_w_b[k], 1.0f);
  }
}

TEST(Tables, LargestMeasuredSizeFiveMillimetresStopsAtEntry49) {
  TablesRun t;
  // Diameters 0.5 to 5.0; 10 % above up to 4.5 mm, exact at 5.0: s[8] = 4.95, s[9] = 5.0.
  const Row d = {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5, 5.0};
  const Row p = {10, 10, 10, 10, 10, 10, 10, 10, 10, 0};
  t.file(corrfact(d, p, kZero, kZero, kZero));
  ASSERT_EQ(t.load(), -1);
  const float* h = t.corr().corr_h_a;
  EXPECT_NEAR(h[49], 1 / 1.1, 1e-6);  // x = 4.9 < 4.95: q = 10
  // Entry 50 (x = 5.0) would be 1.0 if it were computed; it is not, it takes entry 49.
  for (int k = 50; k < kCorrEntries; ++k) ASSERT_EQ(h[k], h[49]) << k;
}

TEST(Tables, CalibSwitchGivesOneWithoutReadingAnyFile) {
  TablesRun t;
  t.ctx->cmd.calib = 1;
  ASSERT_EQ(t.load(), -1);
  for (int k = 0; k < kCorrEntries; ++k) {
    ASSERT_EQ(t.corr().corr_h_a[k], 1.0f);
    ASSERT_EQ(t.corr().corr_h_b[k], 1.0f);
    ASSERT_EQ(t.corr().corr_w_a[k], 1.0f);
    ASSERT_EQ(t.corr().corr_w_b[k], 1.0f);
  }
  EXPECT_EQ(t.out(), "");
  EXPECT_EQ(t.err(), "");
}

TEST(Tables, MissingFileIsNamedOnTheConsoleTaggedAndEndsTheRun) {
  TablesRun t;
  EXPECT_EQ(t.load(), kExitFatal);
  EXPECT_EQ(t.out(), "could not open corrfact.dat \n");
  EXPECT_EQ(t.err(), std::string("tables01: ") + std::strerror(ENOENT) + "\n");
}

TEST(Tables, MissingDeviationLinesReadAsZeroAndAreTagged) {
  TablesRun t;
  std::string full = corrfact(kDiam, kTenAbove, kTenAbove, kTenAbove, kTenAbove);
  // Keep the first six lines: width A and width B are missing.
  size_t cut = 0;
  for (int n = 0; n < 6; ++n) cut = full.find('\n', cut) + 1;
  t.file(full.substr(0, cut));
  ASSERT_EQ(t.load(), -1);
  EXPECT_EQ(t.err(), std::string("tables07: ") + std::strerror(0) + "\ntables08: " + std::strerror(0) + "\n");
  EXPECT_NEAR(t.corr().corr_h_b[16], 1 / 1.05, 1e-6);
  for (int k = 0; k < kCorrEntries; ++k) {
    ASSERT_EQ(t.corr().corr_w_a[k], 1.0f);
    ASSERT_EQ(t.corr().corr_w_b[k], 1.0f);
  }
}

TEST(Tables, ShortLinesGiveZeroForFieldsBeyondTheirEnd) {
  TablesRun t;
  // Height A stops after five fields: p = 10 up to 5 mm, then 0.
  std::string s = corrfact(kDiam, kZero, kZero, kZero, kZero);
  std::string short_row = value_line("height A:", {10, 10, 10, 10, 10});
  size_t at = s.find("height A:");
  s.replace(at, s.find('\n', at) + 1 - at, short_row);
  t.file(s);
  ASSERT_EQ(t.load(), -1);
  const float* h = t.corr().corr_h_a;
  EXPECT_NEAR(h[40], 1 / 1.1, 1e-6);   // x = 4.0 < s[3] = 4.4
  EXPECT_EQ(h[60], 1.0f);              // x = 6.0 = s[5] = 6.0: q = 0
  EXPECT_NEAR(h[57], 1 / 1.06, 1e-5);  // x = 5.7 between s[4] = 5.5 and s[5] = 6.0: q = 6
}

TEST(Tables, AFieldOfBlanksReadsTheNextNumber) {
  TablesRun t;
  // "%6f" skips leading blanks across the field's end: field 2 of blanks reads field 3.
  std::string s = corrfact(kDiam, kZero, kZero, kZero, kZero);
  std::string row = value_line("height A:", {0, 0, 0, 20, 20, 20, 20, 20, 20, 20});
  row.replace(10 + 7 * 2, 7, "       ");
  size_t at = s.find("height A:");
  s.replace(at, s.find('\n', at) + 1 - at, row);
  t.file(s);
  ASSERT_EQ(t.load(), -1);
  // p[2] = 20 like p[3]: x = 3.6 = s[2] lies on the plateau of 20 %.
  EXPECT_NEAR(t.corr().corr_h_a[36], 1 / 1.2, 1e-6);
}

TEST(Tables, LongLinesAreReadIn98BytePieces) {
  TablesRun t;
  // A first line of 150 characters counts as two lines, so the file's second line is read as the
  // diameters.
  std::string s = std::string(150, '#') + "\n" + value_line("diameter:", kDiam) + "----\n" +
                  value_line("height A:", kTenAbove) + value_line("height B:", kZero) +
                  value_line("width A :", kZero) + value_line("width B :", kZero);
  t.file(s);
  ASSERT_EQ(t.load(), -1);
  EXPECT_NEAR(t.corr().corr_h_a[16], 1 / 1.05, 1e-6);
  EXPECT_EQ(t.err(), "");
}

TEST(Tables, LineOf97CharactersAndItsLineEndIsOneLine) {
  // 97 characters and the line end make one line, with "\n" or "\r\n"; 98 characters make a piece
  // and a line of their own, so the file's second line is then read as the diameters.
  struct Case {
    size_t first_line;
    const char* eol;
    bool second_line_kept;
  };
  const Case cases[] = {{97, "\n", true}, {97, "\r\n", true}, {98, "\n", false}, {98, "\r\n", false}};
  for (const Case& c : cases) {
    TablesRun t;
    std::string s = std::string(c.first_line, '#') + c.eol;
    if (c.second_line_kept) s += std::string("deviation in percent") + c.eol;
    for (const std::string& line :
         {value_line("diameter:", kDiam), std::string("----\n"), value_line("height A:", kTenAbove),
          value_line("height B:", kZero), value_line("width A :", kZero), value_line("width B :", kZero)})
      s += line.substr(0, line.size() - 1) + c.eol;
    t.file(s);
    ASSERT_EQ(t.load(), -1) << c.first_line << " " << (c.eol[0] == '\r' ? "CRLF" : "LF");
    EXPECT_NEAR(t.corr().corr_h_a[16], 1 / 1.05, 1e-6) << c.first_line;
    EXPECT_EQ(t.err(), "");
  }
}

TEST(Tables, RefusesARowWhoseMeasuredSizesDoNotRise) {
  TablesRun t;
  Row wb = kZero;
  wb[4] = -60;  // s[4] = 2.0 after s[3] = 4.0
  t.file(corrfact(kDiam, kZero, kZero, kZero, wb));
  EXPECT_EQ(t.load(), kExitFatal);
  EXPECT_EQ(
      t.err(),
      "corrfact.dat: row width B: measured sizes do not rise (4.000000 at point 4, 2.000000 at point 5), "
      "no correction factors can be built\n");
}

TEST(Tables, RefusesEqualDiameters) {
  TablesRun t;
  Row d = kDiam;
  d[9] = 9;
  t.file(corrfact(d, kZero, kZero, kZero, kZero));
  EXPECT_EQ(t.load(), kExitFatal);
  EXPECT_NE(t.err().find("corrfact.dat: row height A: measured sizes do not rise"), std::string::npos)
      << t.err();
}

TEST(Tables, RefusesALargestMeasuredSizeNotAboveZero) {
  TablesRun t;
  const Row d = {-10, -9, -8, -7, -6, -5, -4, -3, -2, -1};
  t.file(corrfact(d, kZero, kZero, kZero, kZero));
  EXPECT_EQ(t.load(), kExitFatal);
  EXPECT_EQ(
      t.err(),
      "corrfact.dat: row height A: largest measured size -1.000000 is not above 0, no correction factors "
      "can be built\n");
}

TEST(Tables, RefusesAFileThatEndsBeforeTheDiameters) {
  TablesRun t;
  t.file("correction factors\nsecond line\n");
  EXPECT_EQ(t.load(), kExitFatal);
  const std::string ok = std::strerror(0);
  EXPECT_EQ(t.err(), "tables03: " + ok + "\ntables04: " + ok + "\ntables05: " + ok + "\ntables06: " + ok +
                         "\ntables07: " + ok + "\ntables08: " + ok +
                         "\ncorrfact.dat: row height A: measured sizes do not rise (0.000000 at point 1, "
                         "0.000000 at point 2), no correction factors can be built\n");
}

TEST(Tables, RefusesValuesThatAreNoFiniteNumbers) {
  TablesRun t;
  std::string s = corrfact(kDiam, kZero, kZero, kZero, kZero);
  size_t at = s.find("height B:") + 10 + 7 * 6;
  s.replace(at, 7, "    inf");
  t.file(s);
  EXPECT_EQ(t.load(), kExitFatal);
  EXPECT_EQ(t.err(),
            "corrfact.dat: row height B: value 7 is no finite number, no correction factors can be built\n");
  // A bad diameter is named as such, not as the first row it spoils.
  TablesRun d;
  s = corrfact(kDiam, kZero, kZero, kZero, kZero);
  s.replace(s.find("diameter:") + 10 + 7 * 2, 7, "    nan");
  d.file(s);
  EXPECT_EQ(d.load(), kExitFatal);
  EXPECT_EQ(d.err(),
            "corrfact.dat: row diameter: value 3 is no finite number, no correction factors can be built\n");
}

}  // namespace
}  // namespace quorda
