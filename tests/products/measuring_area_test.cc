// The paired measuring area: the pairing's width test as the converter applies it, the local
// pixel widths as the simulator renders them, the share of the field where a drop is paired on
// geometries whose answer follows by hand, and the tabulated share against the direct one.
#include <gtest/gtest.h>

#include <cmath>

#include "match/match_pieces.h"
#include "products/measuring_area.h"
#include "sim/sim_instrument.h"
#include "support/test_context.h"

namespace quorda::products {
namespace {

// A field of 2c pixels a side, pixel widths pa and pb (mm), no perspective.
FieldGeometry flat(int c, double pa, double pb) {
  FieldGeometry g;
  g.line_fr = 55000;
  g.pixels = 2 * c;
  g.pixel_a_mm = pa;
  g.pixel_b_mm = pb;
  g.end[0] = g.end[1] = g.pixels;
  return g;
}

// Share of the centres for which shadows of la and lb pixels stay off the end pixels.
double whole(int c, double la, double lb) {
  return (2 * c - 1 - la) / (2 * c) * (2 * c - 1 - lb) / (2 * c);
}

TEST(PairedArea, WidthTestIsThePairingsOwn) {
  quorda::testing::TestRun t;
  for (int16_t wa = 0; wa <= 40; ++wa) {
    for (int16_t wb = 0; wb <= 40; ++wb) {
      Piece a, b;
      a.width = wa;
      a.first_line = 100;
      a.last_line = 110;
      b.width = wb;
      b.first_line = 101;
      b.last_line = 111;
      ASSERT_EQ(widths_pair(wa, wb), pieces_match(t.ctx->match_part(), a, b) != 0) << wa << "/" << wb;
    }
  }
}

TEST(PairedArea, LocalPixelWidthsAreTheSimulatedInstruments) {
  const sim::SimInstrument inst;  // 316 pixels from the centre, 0.153 / 0.168 mm, 250 mm
  FieldGeometry g = flat(inst.centre_pix, inst.xs1, inst.xs2);
  g.distance_a_mm = inst.l1;
  g.distance_b_mm = inst.l2;
  for (double ca : {-316.0, -100.0, 0.0, 250.0}) {
    for (double cb : {-316.0, 0.0, 120.0, 316.0}) {
      EXPECT_NEAR(pixel_width_a_at(g, cb), sim::local_scale_a(inst, ca, cb), 1e-12) << ca << " " << cb;
      EXPECT_NEAR(pixel_width_b_at(g, ca), sim::local_scale_b(inst, ca, cb), 1e-12) << ca << " " << cb;
    }
  }
  g.distance_a_mm = 0;  // unknown: the centre value
  EXPECT_EQ(pixel_width_a_at(g, 300), inst.xs1);
}

TEST(PairedArea, ShareOfAFlatFieldByHand) {
  // Widths of 12 and 8 pixels pair (ratio 3/2): the share is where both shadows are whole, the
  // shadow rule's area.
  const FieldGeometry g = flat(316, 0.1, 0.15);
  EXPECT_NEAR(paired_share(g, 1.2), whole(316, 12, 8), 1e-9);
  // 1.8 mm is 18 against 12 pixels, 6 apart: never paired; 0.6 mm in 0.1 / 0.2 mm pixels is
  // 6 against 3 (ratio 2): never paired.
  EXPECT_EQ(paired_share(g, 1.8), 0.0);
  EXPECT_EQ(paired_share(flat(316, 0.1, 0.2), 0.6), 0.0);
  // 1.5 pixels in both cameras: 1 or 2 pixels each, half the time alike (1/1, 2/2), and 1/2 or
  // 2/1 has a ratio of 2.
  EXPECT_NEAR(paired_share(flat(316, 0.1, 0.1), 0.15), 0.5 * whole(316, 1.5, 1.5), 1e-9);
  // 2.5 pixels: 2 or 3 each, and 2/3 passes.
  EXPECT_NEAR(paired_share(flat(316, 0.1, 0.1), 0.25), whole(316, 2.5, 2.5), 1e-9);
  // Wider than the field, or no field.
  EXPECT_EQ(paired_share(g, 70.0), 0.0);
  EXPECT_EQ(paired_share(FieldGeometry{}, 1.0), 0.0);
}

TEST(PairedArea, PerspectiveLosesABandOfTheField) {
  // Camera A 20 mm from the centre of a field of 200 pixels of 0.1 mm: its pixel width runs from
  // 0.05 mm (cb = -100) to 0.15 mm (cb = +100), so a 3 mm drop is 60 to 20 pixels wide in A and
  // 30 in B. It pairs where A sees 25 to 35 pixels: la = 30 / (1 + cb / 200) in [25, 35] for cb
  // in [-28.6, 40], wholly paired for la in [25, 35) and in part within a pixel of either end.
  FieldGeometry g = flat(100, 0.1, 0.1);
  g.distance_a_mm = 20;
  // Integrate over cb by hand: the pairing chance times the share of A's line where the shadow
  // stays off the end pixels; B's shadow of 30 pixels keeps |cb| < 84.5.
  double expected = 0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double cb = -100 + (i + 0.5) * 200.0 / n;
    if (std::fabs(cb) >= 100 - 0.5 - 15) continue;
    const double la = 30 / (1 + cb / 200);
    double pass = 0;
    if (la >= 24 && la < 25) pass = la - 24;  // 25 pixels with chance frac(la)
    if (la >= 25 && la < 35) pass = 1;
    if (la >= 35 && la < 36) pass = 36 - la;  // 35 pixels with chance 1 - frac(la)
    expected += pass * (200 - 1 - la) / 200 / n;
  }
  EXPECT_NEAR(paired_share(g, 3.0), expected, 2e-3);
  // Without the perspective the same drop pairs everywhere.
  g.distance_a_mm = 0;
  EXPECT_NEAR(paired_share(g, 3.0), whole(100, 30, 30), 1e-9);
}

TEST(PairedArea, TableFollowsTheDirectShareAndTheGeometry) {
  FieldGeometry g = flat(316, 0.153, 0.168);
  g.distance_a_mm = 250;
  g.distance_b_mm = 250;
  FieldGeometry h = flat(300, 0.15, 0.16);
  MeasuringArea table(AreaRule::kPaired);
  for (const FieldGeometry* geo : {&g, &h, &g}) {
    for (double w : {0.3, 0.87, 1.5, 2.333, 4.4, 6.0}) {
      MeasuredParticle p;
      p.d_mm = w;
      p.width_a_mm = w * 1.02;
      p.width_b_mm = w * 0.98;
      const double direct = effective_area_m2(*geo, p, AreaRule::kPaired);
      EXPECT_NEAR(table.m2(*geo, p), direct, 0.01 * direct + 1e-7) << w;
    }
  }
  // The other rules pass straight through.
  MeasuredParticle p;
  p.d_mm = 1;
  p.width_a_mm = p.width_b_mm = 1.05;
  EXPECT_EQ(MeasuringArea(AreaRule::kShadow).m2(g, p), effective_area_m2(g, p, AreaRule::kShadow));
  // Wider than the field: no area.
  p.width_a_mm = p.width_b_mm = 200;
  EXPECT_EQ(table.m2(g, p), 0.0);
}

}  // namespace
}  // namespace quorda::products
