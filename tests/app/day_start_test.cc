// The start-up of a day before its first summary: the settings, then the raw file, once.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/day_driver.h"
#include "app/run_context.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;
using testing::write_file;

std::string settings_text() {
  std::string text;
  for (const char* key :
       {"RAW_PATH", "HYD_PATH", "OVERWRITE", "HBR", "HBL", "HFR", "XSCAL_A", "DIST_A", "XSCAL_B", "DIST_B"}) {
    std::string l = key;
    l.resize(60, ' ');
    text += l + (std::string(key).find("PATH") != std::string::npos ? "dir" : "2") + "\n";
  }
  return text;
}

TEST(DayStart, ReadsTheSettingsAndOpensTheRawFileWithoutDrawing) {
  TestRun t;
  write_file(t.dir.file("QUORDA.SET"), settings_text());
  std::string raw = t.dir.file("V10082_1.ab");
  write_file(raw, std::string(10, '\0'));
  t.ctx->cmd.filespec = raw;
  t.ctx->cmd.filespec_name = "V10082_1.ab";
  start_day(*t.ctx);
  EXPECT_EQ(t.ctx->settings.raw_path, std::string("dir") + kDirSeparator);
  EXPECT_FLOAT_EQ(t.ctx->settings.dist_b, 2.0f);
  EXPECT_TRUE(t.ctx->raw.raw_file.is_open());
  EXPECT_EQ(t.ctx->raw.raw_file_path, raw);
  EXPECT_EQ(t.ctx->raw.raw_day, 10082);
  // The raw file is measured by the driver's first read step, not here.
  EXPECT_EQ(t.ctx->drv.rawend, 0);
  EXPECT_EQ(t.out(), "");
  EXPECT_EQ(t.err(), "");
}

TEST(DayStart, WithoutSettingsEndsTheRunBeforeOpeningTheRawFile) {
  TestRun t;
  std::string raw = t.dir.file("V10082_1.ab");
  write_file(raw, std::string());
  t.ctx->cmd.filespec = raw;
  EXPECT_EQ(t.ends_with([&] { start_day(*t.ctx); }), kExitFatal);
  EXPECT_EQ(t.err(), std::string(" rd_tak01: QUORDA.SET ? : ") + std::strerror(ENOENT) + "\n");
  EXPECT_FALSE(t.ctx->raw.raw_file.is_open());
}

}  // namespace
}  // namespace quorda
