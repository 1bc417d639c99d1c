// measure_drop: header selection, the measures of a pair and its line in "res".
#include "measure/measure_drop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "measure/pair_fixture.h"
#include "measure/res_file.h"

namespace quorda {
namespace {

using testing::OwnedPiece;
using testing::read_res;
using testing::same_runs;
using testing::TestRun;

// Measures the pair and writes its line, as the packing of a record does.
DropMeasures eval(RunContext& ctx, const Piece& a, const Piece& b) {
  open_res_once(ctx.measure_part());
  const DropMeasures m = measure_drop(ctx.measure_part(), a, b);
  write_res_line(ctx.measure_part(), m);
  return m;
}

DropMeasures eval(TestRun& run, const OwnedPiece& a, const OwnedPiece& b) {
  return eval(*run.ctx, a.p, b.p);
}

TEST(MeasureDrop, WorkedExampleGivesTheExactLineAndMeasures) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  DropMeasures m = eval(run, a, b);
  EXPECT_EQ(read_res(run),
            " 3.472  6.20000 6.195 6.195 6.195 6.205 6.205 6.205  3.0975  3.0000  3.1025  3.0000  1.0325  "
            "1.0342  1.0333\n");
  EXPECT_NEAR(m.eq_diam, 3.4719, 1e-4);
  EXPECT_EQ(m.vel, 0.31f);
  EXPECT_EQ(m.scale_a, 0.15f);
  EXPECT_EQ(m.scale_b, 0.15f);
  EXPECT_EQ(run.err(), "");
}

TEST(MeasureDrop, LinesAccumulateAndANewRunEmptiesTheFile) {
  {
    TestRun run;
    testing::setup_worked_example(*run.ctx);
    OwnedPiece a(same_runs(10, 246, 266), 1000);
    OwnedPiece b(same_runs(10, 246, 266), 1020);
    eval(run, a, b);
    eval(run, a, b);
    std::string text = read_res(run);
    EXPECT_EQ(text.size(), 2 * text.find('\n') + 2);
    // A second run in the same folder starts the file anew.
    auto second = make_run_context(run.platform, run.files.get());
    second->home = run.ctx->home;
    second->diag = run.ctx->diag;
    testing::setup_worked_example(*second);
    eval(*second, a.p, b.p);
    close_res(second->measure_part());
    EXPECT_EQ(second->eval.res, nullptr);
    EXPECT_EQ(testing::read_text(run.dir.file("res")), text.substr(0, text.find('\n') + 1));
  }
}

TEST(MeasureDrop, ResThatCannotBeCreatedIsReportedOnceAndMeasuresStillCome) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  run.ctx->home = run.dir.path() + "missing-folder/";
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  DropMeasures m = eval(run, a, b);
  eval(run, a, b);
  EXPECT_EQ(m.vel, 0.31f);
  std::string err = run.err();
  EXPECT_NE(err.find("missing-folder/res"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "one message only: " << err;
}

// Correction factors of 1, the cameras' geometry from the main header in force (OVERWRITE 0), hbl,
// hbr and hfr of 6 mm, and one line a second, so that a header's line is its time.
void geometry_from_headers(RunContext& ctx) {
  testing::set_all_factors(ctx, 1.0f);
  ctx.settings.overwrite = 0;
  ctx.settings.hbl = ctx.settings.hbr = ctx.settings.hfr = 6.0f;
  ctx.hdr.line_fr = 1.0;
}

TEST(MeasureDrop, HeaderSelectionIncludesBothEndsAndPrefersTheEarlierHeader) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  geometry_from_headers(ctx);
  // line_fr 1.0: the headers lie at lines 100 and 200; their centre pixels tell them apart.
  insert_header(ctx.rawin_part(), testing::header_at(100, 1.0, 300));
  insert_header(ctx.rawin_part(), testing::header_at(200, 1.0, 100));
  OwnedPiece b(same_runs(4, 100, 110), 0);
  auto scale_b_at = [&](double t1) {
    OwnedPiece a(same_runs(4, 100, 110), t1);
    b.build(t1 + 5);
    return eval(run, a, b).scale_b;
  };
  // scale_b = (L2 - XS1 * cA) * XS2 / L2 with cA = 105 - centre pixel.
  const float at_100 = (250.0f - 0.153f * static_cast<float>(105 - 300)) * 0.168f / 250.0f;
  const float at_200 = (250.0f - 0.153f * static_cast<float>(105 - 100)) * 0.168f / 250.0f;
  EXPECT_EQ(scale_b_at(200), at_100);
  EXPECT_EQ(scale_b_at(100), at_100);
  EXPECT_EQ(scale_b_at(250), at_200);
  run.clear_streams();
  EXPECT_EQ(run.ends_with([&] { scale_b_at(50); }), kExitFatal);
  EXPECT_EQ(run.err(), "eval_dr 04: no corresponding main header ? \n");
}

TEST(MeasureDrop, HeaderSelectedInAnyOrderOfLinesIsTheFirstWhoseSpanHoldsTheLine) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  geometry_from_headers(ctx);
  // Headers at lines 100, 200, ..., 500, told apart by their centre pixels 300, 290, ..., 260.
  constexpr int kHeaders = 5;
  for (int i = 0; i < kHeaders; ++i)
    insert_header(ctx.rawin_part(),
                  testing::header_at(100 * (i + 1), 1.0, static_cast<int16_t>(300 - 10 * i)));
  const auto scale_b_of = [](int header) {
    const auto ca = static_cast<float>(105 - (300 - 10 * header));
    return (250.0f - 0.153f * ca) * 0.168f / 250.0f;
  };
  // The first header whose span from its line to the next one's holds t1, both ends included;
  // the last one from its line on.
  const auto expected_header = [](double t1) {
    for (int i = 0; i + 1 < kHeaders; ++i) {
      if (100.0 * (i + 1) <= t1 && t1 <= 100.0 * (i + 2)) return i;
    }
    return kHeaders - 1;
  };
  std::vector<double> lines;
  for (int i = 1; i <= kHeaders; ++i) {
    for (double d : {-0.5, 0.0, 0.5, 50.0}) lines.push_back(100.0 * i + d);
  }
  lines.erase(lines.begin());  // 99.5 lies before the first header
  lines.push_back(1e9);
  // Each line after each other one, so that every header was the one selected before.
  OwnedPiece b(same_runs(4, 100, 110), 0);
  for (double before : lines) {
    for (double t1 : lines) {
      for (double t : {before, t1}) {
        OwnedPiece a(same_runs(4, 100, 110), t);
        b.build(t + 5);
        ASSERT_EQ(measure_drop(ctx.measure_part(), a.p, b.p).scale_b, scale_b_of(expected_header(t)))
            << before << " " << t;
      }
    }
  }
}

TEST(MeasureDrop, MissingHeadersEndTheRunWithTheirMessages) {
  TestRun run;
  OwnedPiece a(same_runs(4, 100, 110), 50.7);
  OwnedPiece b(same_runs(4, 100, 110), 60);
  auto call = [&] { eval(run, a, b); };
  EXPECT_EQ(run.ends_with(call), kExitFatal);
  EXPECT_EQ(run.err(), "eval_dr 01: no main header in file ?!? \n");
  run.clear_streams();
  insert_header(run.ctx->rawin_part(), testing::header_at(100, 1.0, 256));
  EXPECT_EQ(run.ends_with(call), kExitFatal);
  EXPECT_EQ(run.err(), "t1=50, ptr->line=100 \neval_dr 02: no corresponding main header ? \n");
  run.clear_streams();
  a.build(-3.5);  // a time before midnight shows wrapped, never undefined
  EXPECT_EQ(run.ends_with(call), kExitFatal);
  EXPECT_EQ(run.err(),
            "t1=18446744073709551613, ptr->line=100 \neval_dr 02: no corresponding main header ? \n");
}

TEST(MeasureDrop, OverwriteOneWritesTheSettingsGeometryIntoTheSelectedHeader) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  run.ctx->settings.xscal_a = 0.2f;
  run.ctx->settings.dist_b = 300.0f;
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  eval(run, a, b);
  const MainHeader& rec = run.ctx->hdr.head->rec;
  EXPECT_EQ(rec.xscale0_1, 0.2f);
  EXPECT_EQ(rec.xscale0_2, 0.15f);
  EXPECT_EQ(rec.l0_1, 250.0f);
  EXPECT_EQ(rec.l0_2, 300.0f);

  run.ctx->settings.overwrite = 2;
  run.ctx->settings.xscal_a = 0.5f;
  eval(run, a, b);
  EXPECT_EQ(run.ctx->hdr.head->rec.xscale0_1, 0.2f);
}

TEST(MeasureDrop, PlaneDistanceIsInterpolatedBetweenTheCorners) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  // A particle at pixel 0 of both lines sees HBL, one at the far end of both lines HFR; with the
  // first lines 0.2 apart (sum 0.4, raised to 1.0) vel = 2 H.
  auto vel_at = [&](int16_t start_a, int16_t start_b) {
    OwnedPiece a({{start_a, start_a}, {start_a, start_a}}, 1000);
    OwnedPiece b({{start_b, start_b}, {start_b, start_b}}, 1000.2);
    return eval(run, a, b).vel;
  };
  EXPECT_EQ(vel_at(0, 0), 2 * 6.0f);
  EXPECT_EQ(vel_at(512, 512), 2 * 6.4f);
  EXPECT_EQ(vel_at(512, 0), 2 * 6.2f);
  EXPECT_FLOAT_EQ(vel_at(0, 512), 2 * (6.0f + 6.4f - 6.2f));
  run.ctx->settings.hbl = run.ctx->settings.hbr = run.ctx->settings.hfr = 6.0f;
  EXPECT_EQ(vel_at(100, 400), 12.0f);
}

TEST(MeasureDrop, VelocityIndexIsTruncatedAndOnlyIndicesBelow512AreCorrected) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  testing::setup_worked_example(ctx);
  // 10 + 10 lines at 0.31f: the product is 6.1999998f, times 5 gives 30.999999 -> index 30.
  ctx.corr.corr_h_a[30] = 0.8f;
  ctx.corr.corr_h_b[30] = 1.0f;
  ctx.corr.corr_h_a[31] = 0.1f;
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  EXPECT_EQ(eval(run, a, b).vel, 0.31f * 1.8f * 0.5f);

  // 300 + 300 lines at a delay of 1 line: vel = 12.4 and the index far beyond the table.
  testing::set_all_factors(ctx, 0.5f);
  OwnedPiece long_a(same_runs(300, 246, 266), 1000);
  OwnedPiece long_b(same_runs(300, 246, 266), 1000.5);
  DropMeasures m = eval(run, long_a, long_b);
  EXPECT_EQ(m.vel, 12.4f);
}

TEST(MeasureDrop, WidthIndicesAreRoundedHalvesUp) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  testing::setup_worked_example(ctx);
  // Pieces centred on the line centre: scale_a = XSCAL_A before correction; width 5 pixels.
  OwnedPiece a({{254, 259}, {254, 258}}, 1000);
  OwnedPiece b({{254, 259}, {254, 258}}, 1020);
  ctx.corr.corr_w_a[12] = 0.5f;
  ctx.corr.corr_w_a[13] = 2.0f;
  ctx.settings.xscal_a = 0.25f;  // 5 * 0.25 * 10 = 12.5 -> 13
  EXPECT_EQ(eval(run, a, b).scale_a, 0.5f);
  ctx.settings.xscal_a = 0.2498f;  // 12.49 -> 12
  EXPECT_EQ(eval(run, a, b).scale_a, 0.2498f * 0.5f);
  ctx.settings.xscal_a = 102.4f;  // 5120 is past the table: uncorrected
  testing::set_all_factors(ctx, 3.0f);
  EXPECT_EQ(eval(run, a, b).scale_a, 102.4f);
}

// A count times a single-precision measure is a single-precision product; each case below gives
// another index or width when the float is widened to double before the multiplication.
TEST(MeasureDrop, IndicesAndWidthsUseSinglePrecisionProducts) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  testing::setup_worked_example(ctx);
  // Velocity index: plane distance 7 mm over 10 lines gives vel = 0.7f (0.699999988...);
  // (10 + 10) * vel is 14.0f, index 70 (69.99999 in double, index 69).
  ctx.settings.hbl = ctx.settings.hbr = ctx.settings.hfr = 7.0f;
  ctx.corr.corr_h_a[69] = ctx.corr.corr_h_b[69] = 0.5f;
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1010);
  EXPECT_EQ(eval(run, a, b).vel, 0.7f);

  // Width index: 5 pixels of 0.11f mm (0.109999999...) are 0.55f, index 6 after rounding
  // (5.4999999 in double, index 5).
  ctx.settings.xscal_a = ctx.settings.xscal_b = 0.11f;
  for (int k : {5, 6}) ctx.corr.corr_w_a[k] = ctx.corr.corr_w_b[k] = k == 6 ? 1.0f : 0.5f;
  OwnedPiece narrow_a({{254, 259}, {254, 258}}, 1000);
  OwnedPiece narrow_b({{254, 259}, {254, 258}}, 1020);
  DropMeasures m = eval(run, narrow_a, narrow_b);
  EXPECT_EQ(m.scale_a, 0.11f);
  EXPECT_EQ(m.scale_b, 0.11f);
}

TEST(MeasureDrop, WidthsOfTheLineAreSinglePrecisionProducts) {
  // A piece 199 pixels off the centre of the other camera's line has pixels of 0.13209f mm; five
  // of them are 0.6604 mm in single precision (0.6605 in double). Columns 10 and 12 hold dA, dB.
  auto widths = [](int16_t start_a, int16_t start_b) {
    TestRun run;
    testing::setup_worked_example(*run.ctx);
    OwnedPiece a(same_runs(3, start_a, static_cast<int16_t>(start_a + 5)), 1000);
    OwnedPiece b(same_runs(3, start_b, static_cast<int16_t>(start_b + 5)), 1020);
    eval(run, a, b);
    std::istringstream line(read_res(run));
    std::vector<std::string> fields{std::istream_iterator<std::string>(line), {}};
    return std::pair(fields.at(9), fields.at(11));
  };
  using Widths = std::pair<std::string, std::string>;
  EXPECT_EQ(widths(254, 55), Widths("0.6604", "0.7500"));
  EXPECT_EQ(widths(453, 254), Widths("0.7500", "0.6604"));
}

// A pair that is not symmetric: 7 lines in A and 10 in B (first-line delay 10, last-line delay
// 13), an odd centre sum in A (245 + 266) and a velocity index whose fraction is 0.82. Every field
// that depends on one of them is checked on its own.
TEST(MeasureDrop, AsymmetricPairIsMeasuredFieldByField) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  testing::setup_worked_example(ctx);
  // (7 + 10) * vel * 5 = 45.82: truncated to 45, never rounded to 46.
  ctx.corr.corr_h_a[46] = ctx.corr.corr_h_b[46] = 0.5f;
  OwnedPiece a(same_runs(7, 245, 266), 1000);
  OwnedPiece b(same_runs(10, 250, 262), 1010);
  DropMeasures m = eval(run, a, b);

  // A lies at 255.5 along its line (plane distance), but its offset from the centre is
  // 511 / 2 - 256 = -1 in whole pixels (the pixel width of B).
  const float span = 512.0f, corner = 6.0f + 6.4f - 6.2f;
  const float p_side = corner + (6.4f - corner) * 255.5f / span;
  const float q_side = 6.0f + (6.2f - 6.0f) * 255.5f / span;
  const float H = q_side + (p_side - q_side) * 256.0f / span;
  const auto vel = static_cast<float>(static_cast<double>(H) * 2 / 23.0);
  EXPECT_EQ(m.vel, vel);
  EXPECT_EQ(m.scale_a, 0.15f);
  EXPECT_EQ(m.scale_b, (250.0f + 0.15f) * 0.15f / 250.0f);

  // Velocities at the planes from each delay on its own, heights from each line count.
  const double g = 9.807, h = static_cast<double>(H) * 0.0005, fr = 20000.0;
  auto at_planes = [&](double delay) {
    const double u = static_cast<double>(H) / (delay / fr) * 0.001;
    const double z = u * u / (g * 2);
    return std::pair(u - std::sqrt(g * 2) * (std::sqrt(z) - std::sqrt(z - h)),
                     u + std::sqrt(g * 2) * (std::sqrt(z + h) - std::sqrt(z)));
  };
  const auto [ua1, ub1] = at_planes(10.0);
  const auto [ua2, ub2] = at_planes(13.0);
  const double va = std::sqrt((ua1 * ua1 / (g * 2) + ua2 * ua2 / (g * 2)) * g);
  const double vb = std::sqrt((ub1 * ub1 / (g * 2) + ub2 * ub2 / (g * 2)) * g);
  EXPECT_EQ(m.plane_dist, static_cast<double>(H));
  EXPECT_DOUBLE_EQ(m.by_first.at_a, ua1);
  EXPECT_DOUBLE_EQ(m.by_last.at_b, ub2);
  EXPECT_DOUBLE_EQ(m.vel_a, va);
  EXPECT_DOUBLE_EQ(m.height_b, 10 * vb * 1000.0 / fr);
  EXPECT_EQ(m.width_a, static_cast<double>(21.0f * m.scale_a));
  EXPECT_DOUBLE_EQ(m.ratio, std::sqrt(m.ratio_a * m.ratio_b));
  auto fixed = [](double x, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, x);
    return std::string(text);
  };
  std::istringstream line(read_res(run));
  std::vector<std::string> f{std::istream_iterator<std::string>(line), {}};
  ASSERT_EQ(f.size(), 15u);
  EXPECT_EQ(f[2], fixed(ua1, 3));
  EXPECT_EQ(f[3], fixed(va, 3));
  EXPECT_EQ(f[4], fixed(ua2, 3));
  EXPECT_EQ(f[5], fixed(ub1, 3));
  EXPECT_EQ(f[6], fixed(vb, 3));
  EXPECT_EQ(f[7], fixed(ub2, 3));
  EXPECT_NE(f[2], f[4]);
  EXPECT_EQ(f[8], fixed(7 * va * 1000.0 / fr, 4));
  EXPECT_EQ(f[9], fixed(static_cast<double>(21.0f * m.scale_a), 4));
  EXPECT_EQ(f[10], fixed(10 * vb * 1000.0 / fr, 4));
  EXPECT_EQ(f[11], fixed(static_cast<double>(12.0f * m.scale_b), 4));
}

TEST(MeasureDrop, VolumeIsSummedOverTheShorterPieceAndScaledToTheMeanLineCount) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  std::vector<quorda::Run> ra = same_runs(10, 246, 266);
  std::vector<quorda::Run> rb = same_runs(12, 246, 266);
  ra[3] = {250, 262};  // widths differ per line, so the pairing by index matters
  rb[3] = {248, 256};
  rb[10] = {200, 300};  // lines of B past line 10 take no part in the sum
  OwnedPiece a(ra, 1000);
  OwnedPiece b(rb, 1020);
  DropMeasures m = eval(run, a, b);
  float v = 0;
  for (int i = 0; i < 10; ++i) {
    float ai = static_cast<float>(ra[i].end - ra[i].start) * m.scale_a;
    float bi = static_cast<float>(rb[i].end - rb[i].start) * m.scale_b;
    v += ai * bi * 3.14159f * 0.25f * m.vel;
  }
  v = 22.0f * v / 20.0f;
  EXPECT_EQ(m.eq_diam, static_cast<float>(std::pow(static_cast<double>(v * 6.0f * 0.31831014f), 1.0 / 3.0)));
}

TEST(MeasureDrop, SlowParticleGivesZeroSquareRootsWithADomainErrorLineEach) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  // 2000 lines at 20000 lines per second over 6.2 mm: 0.062 m/s, far below free-fall speed over
  // half the plane distance, so z - h is negative for both delays.
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 3000);
  eval(run, a, b);
  EXPECT_EQ(run.err(), "Domain error in sqrt\nDomain error in sqrt\n");
  // uA1, vA and uA2 are 0; the velocities at plane B are not.
  std::string line = read_res(run);
  EXPECT_EQ(line.substr(15, 18), " 0.000 0.000 0.000") << line;
  EXPECT_NE(line.substr(33, 6), " 0.000") << line;
}

TEST(MeasureDrop, ZeroDelayPrintsNonFiniteValues) {
  TestRun run;
  testing::setup_worked_example(*run.ctx);
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1000);
  DropMeasures m = eval(run, a, b);
  EXPECT_EQ(m.vel, 12.4f);
  std::string line = read_res(run);
  EXPECT_NE(line.find("nan"), std::string::npos) << line;
}

}  // namespace
}  // namespace quorda
