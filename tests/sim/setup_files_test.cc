// The configuration files written for a simulated instrument: QUORDA.SET and corrfact.dat.
#include "sim/setup_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "app/settings.h"
#include "measure/correction_tables.h"
#include "support/test_context.h"

namespace quorda::sim {
namespace {

TEST(QuordaSetText, PutsEveryKeyInColumnOneAndItsValueFromColumn61) {
  SimInstrument inst;
  inst.xs1 = 0.2;
  inst.l2 = 301.5;
  inst.hfr = 7.125;
  std::istringstream in(quorda_set_text(inst, "./raw/", "./"));
  std::map<std::string, std::string> values;
  std::string line;
  while (std::getline(in, line)) {
    ASSERT_LE(line.size(), 79u) << line;
    ASSERT_GT(line.size(), 60u) << line;
    const std::string key = line.substr(0, line.find(' '));
    char value[32] = {};
    ASSERT_EQ(std::sscanf(line.c_str() + 60, "%31s", value), 1);
    values[key] = value;
  }
  ASSERT_EQ(values.size(), 10u);
  EXPECT_EQ(values["RAW_PATH"], "./raw/");
  EXPECT_EQ(values["HYD_PATH"], "./");
  EXPECT_EQ(values["OVERWRITE"], "1");
  EXPECT_FLOAT_EQ(std::stof(values["XSCAL_A"]), 0.2f);
  EXPECT_FLOAT_EQ(std::stof(values["XSCAL_B"]), 0.168f);
  EXPECT_FLOAT_EQ(std::stof(values["DIST_A"]), 250.0f);
  EXPECT_FLOAT_EQ(std::stof(values["DIST_B"]), 301.5f);
  EXPECT_FLOAT_EQ(std::stof(values["HBL"]), 6.2f);
  EXPECT_FLOAT_EQ(std::stof(values["HBR"]), 6.3f);
  EXPECT_FLOAT_EQ(std::stof(values["HFR"]), 7.125f);
}

TEST(QuordaSetText, ReadsBackThroughTheSettingsReader) {
  SimInstrument inst;
  inst.xs2 = 0.175;
  inst.l1 = 260;
  inst.hbr = 6.35;
  quorda::testing::TestRun run;
  quorda::testing::write_file(run.ctx->local_path("QUORDA.SET"), quorda_set_text(inst, "raw/", "out/"));
  EXPECT_EQ(run.ends_with([&] { read_settings(*run.ctx); }), -1) << run.err();
  const Settings& s = run.ctx->settings;
  EXPECT_EQ(s.overwrite, 1);
  EXPECT_FLOAT_EQ(s.hbl, 6.2f);
  EXPECT_FLOAT_EQ(s.hbr, 6.35f);
  EXPECT_FLOAT_EQ(s.hfr, 6.4f);
  EXPECT_FLOAT_EQ(s.xscal_a, 0.153f);
  EXPECT_FLOAT_EQ(s.xscal_b, 0.175f);
  EXPECT_FLOAT_EQ(s.dist_a, 260.0f);
  EXPECT_FLOAT_EQ(s.dist_b, 250.0f);
  EXPECT_EQ(s.raw_path.substr(0, 3), "raw");
  EXPECT_EQ(s.hyd_path.substr(0, 3), "out");
  EXPECT_EQ(run.err(), "");
}

TEST(CorrfactText, LoadsAsUnitFactorsWhenAllDeviationsAreZero) {
  quorda::testing::TestRun run;
  quorda::testing::write_file(run.ctx->local_path("corrfact.dat"), corrfact_text({}));
  run.ctx->cmd.calib = 0;
  EXPECT_EQ(run.ends_with([&] { load_correction_tables(run.ctx->measure_part(), false); }), -1) << run.err();
  for (int k = 0; k < kCorrEntries; ++k) {
    ASSERT_FLOAT_EQ(run.ctx->corr.corr_h_a[k], 1.0f) << k;
    ASSERT_FLOAT_EQ(run.ctx->corr.corr_w_b[k], 1.0f) << k;
  }
  EXPECT_EQ(run.err(), "");
}

TEST(CorrfactText, CarriesDeviationsToTheFactorTables) {
  CorrDeviations dev;
  dev.diameters = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  dev.percent[0] = {0, 10, 10, 10, 10, 10, 10, 10, 10, 10};  // height A
  dev.percent[3].fill(-2.5);                                 // width B
  const std::string text = corrfact_text(dev);
  int lines = 0;
  for (char ch : text) lines += ch == '\n';
  EXPECT_EQ(lines, 8);
  quorda::testing::TestRun run;
  quorda::testing::write_file(run.ctx->local_path("corrfact.dat"), text);
  load_correction_tables(run.ctx->measure_part(), false);
  EXPECT_NEAR(run.ctx->corr.corr_h_a[16], 1 / 1.05, 1e-5);  // x = 1.6 mm interpolates 5 percent
  EXPECT_NEAR(run.ctx->corr.corr_h_a[10], 1.0, 1e-6);
  EXPECT_NEAR(run.ctx->corr.corr_w_b[30], 1 / 0.975, 1e-5);
  EXPECT_NEAR(run.ctx->corr.corr_h_b[30], 1.0, 1e-6);
}

}  // namespace
}  // namespace quorda::sim
