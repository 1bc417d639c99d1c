// The rain products of a hand-built hydrometeor stream: particles measured from their records, the
// header in force giving each its line frequency and field, the filter's counts, the intervals and
// the accumulated amount, and a damaged or header-less stream.
#include "products/day_products.h"

#include <gtest/gtest.h>
#include <numbers>

#include <cmath>

#include "format/particle_record.h"
#include "products/stream_builder.h"

namespace quorda::products {
namespace {

using testing::HandParticle;
using testing::ProductStreamBuilder;

void expect_rel(double actual, double expected, double rel = 1e-5) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * rel) << "expected " << expected;
}

TEST(MeasureParticle, ReadsSizeSpeedTimeWidthsAndEdges) {
  ProductStreamBuilder s;
  HandParticle hp;
  hp.t1 = 36000.5 * 55000;
  hp.d_mm = 2.0;
  hp.vel = 0.1;
  hp.start_a = 10;
  hp.end_a = 17;  // 7 pixels of 0.15 mm
  hp.start_b = 600;
  hp.end_b = 610;  // 10 pixels of 0.16 mm
  hp.scale_b = 0.16;
  s.particle(hp);
  FieldGeometry g;
  g.line_fr = 55000;
  g.pixels = 632;
  g.pixel_a_mm = 0.153;
  g.pixel_b_mm = 0.168;
  g.end[0] = g.end[1] = g.pixels;
  Outline o;
  MeasuredParticle p;
  const ParticleHead h = decode_particle_head(s.bytes.data());
  ASSERT_TRUE(measure_particle(s.bytes.data(), h, g, o, &p));
  expect_rel(p.time_s, 36000.5);
  expect_rel(p.d_mm, 2.0);
  expect_rel(p.v_m_s, 5.5);  // 0.1 mm per line at 55000 lines per second
  expect_rel(p.width_a_mm, 1.05);
  expect_rel(p.width_b_mm, 1.6);
  EXPECT_FALSE(p.edge);

  // The last pixel of camera B's line (631) or the first of camera A's (0) make an edge particle;
  // pixel 630 and pixel 1 do not.
  const int cases[][4] = {{1, 8, 620, 631}, {0, 7, 600, 610}, {10, 17, 621, 632}};
  const bool edge[] = {false, true, true};
  for (int i = 0; i < 3; ++i) {
    ProductStreamBuilder e;
    hp.start_a = cases[i][0];
    hp.end_a = cases[i][1];
    hp.start_b = cases[i][2];
    hp.end_b = cases[i][3];
    e.particle(hp);
    ASSERT_TRUE(measure_particle(e.bytes.data(), decode_particle_head(e.bytes.data()), g, o, &p));
    EXPECT_EQ(p.edge, edge[i]) << "case " << i;
  }
}

// Header 1 from 00:00 (632 pixels of 0.153 and 0.168 mm), header 2 from 10:01 (600 pixels of 0.15
// and 0.16 mm), both at 55000 lines/s: a header's time in lines and the particles' t1 are compared
// in line units, which a change of line frequency within the day would make ambiguous. Particles of 2 mm, 7
// pixels of 0.15 mm wide in both cameras.
struct TwoHeaderDay {
  ProductStreamBuilder s;
  TwoHeaderDay() {
    s.header(0, 55000);
    s.header(36060, 55000, 300, 0.15f, 0.16f);
    HandParticle p;
    p.d_mm = 2.0;
    p.t1 = 36000.5 * 55000;  // 10:00:00.5, first header: 5.5 m/s
    s.particle(p);
    HandParticle cut = p;  // cut by the edge
    cut.start_a = 0;
    cut.end_a = 7;
    s.particle(cut);
    HandParticle slow = p;  // 0.55 m/s: not a raindrop of 2 mm
    slow.vel = 0.01;
    s.particle(slow);
    HandParticle big = p;  // 12 mm
    big.d_mm = 12;
    s.particle(big);
    HandParticle later = p;  // 10:01:10, second header
    later.t1 = 36070.0 * 55000;
    s.particle(later);
  }
};

TEST(DayProducts, EachParticleTakesTheGeometryOfTheHeaderInForce) {
  TwoHeaderDay day;
  DayProducts d;
  std::string error, warning;
  ProductSettings s;
  s.area = AreaRule::kShadow;  // areas by hand
  ASSERT_TRUE(day_products(day.s.bytes, s, &d, &error, &warning)) << error;
  EXPECT_EQ(warning, "");
  EXPECT_EQ(d.midnight, ProductStreamBuilder::kMidnight);
  ASSERT_EQ(d.rows.size(), 1440u);
  EXPECT_EQ(d.headers.size(), 2u);
  const IntervalRow& r600 = d.rows[600];
  EXPECT_EQ(r600.start_s, 36000);
  EXPECT_EQ(r600.end_s, 36060);
  EXPECT_EQ(r600.counts.seen, 4);
  EXPECT_EQ(r600.counts.used, 1);
  EXPECT_EQ(r600.counts.edge, 1);
  EXPECT_EQ(r600.counts.speed, 1);
  EXPECT_EQ(r600.counts.size, 1);
  // A = (632 * 0.153 - 0.153 - 1.05)(632 * 0.168 - 0.168 - 1.05) mm^2 = 0.0100227543 m^2;
  // R = 6 pi 1e-4 * 8 / A / 60; N_t = 1 / (A * 5.5 * 60).
  expect_rel(r600.p.rain_rate, 0.025075683282);
  expect_rel(r600.p.nt, 1.0 / (0.0100227543 * 5.5 * 60));
  EXPECT_EQ(r600.bin_count[8], 1);  // 2.0-2.2 mm: the classes begin at 0.4 mm
  const IntervalRow& r601 = d.rows[601];
  EXPECT_EQ(r601.counts.seen, 1);
  EXPECT_EQ(r601.counts.used, 1);
  // A = (600 * 0.15 - 0.15 - 1.05)(600 * 0.16 - 0.16 - 1.05) mm^2 = 0.008417352 m^2; measured
  // only up to the last particle, 10 s of the minute.
  expect_rel(r601.p.rain_rate, 0.029858251418 * 6);
  expect_rel(r601.p.nt, 1.0 / (0.008417352 * 5.5 * 10));
  expect_rel(r601.p.d0, 2.0);
  EXPECT_EQ(d.rows[599].p.rain_rate, 0.0);
  EXPECT_EQ(d.rows[599].accumulated_mm, 0.0);
  expect_rel(r600.accumulated_mm, 0.025075683282 / 60);
  expect_rel(r601.accumulated_mm, (0.025075683282 + 0.029858251418) / 60);
  // Measured from the first header (00:00) to the last particle (10:01:10): later rows are missing.
  expect_rel(r601.measured_fraction(), 1.0 / 6);
  EXPECT_FALSE(d.rows[602].measured());
  EXPECT_TRUE(std::isnan(d.rows[1439].accumulated_mm));
  expect_rel(d.amount_mm, (0.025075683282 + 0.029858251418) / 60);
  EXPECT_EQ(d.total.seen, 5);
  EXPECT_EQ(d.total.used, 2);
  // The speed-diameter histogram holds all but the edge particle: 2 mm (class 8) at 5.5, 0.55
  // and 5.5 m/s (classes 27, 2, 27); 12 mm lies beyond the classes.
  const auto& vd = d.vd;
  EXPECT_EQ(vd.counts[27 * vd.diameter_bins + 8], 2);
  EXPECT_EQ(vd.counts[2 * vd.diameter_bins + 8], 1);
  int64_t sum = 0;
  for (int64_t c : vd.counts) sum += c;
  EXPECT_EQ(sum, 3);
}

TEST(DayProducts, IntervalsAndFilterFollowTheSettings) {
  TwoHeaderDay day;
  ProductSettings s;
  s.interval_s = 600;
  s.filter.speed_tolerance = 0.95;  // the slow particle now passes
  s.filter.d_max_mm = 15;           // and the big one
  s.area = AreaRule::kDiameter;
  DayProducts d;
  std::string error, warning;
  ASSERT_TRUE(day_products(day.s.bytes, s, &d, &error, &warning)) << error;
  ASSERT_EQ(d.rows.size(), 144u);
  EXPECT_EQ(d.rows[60].counts.seen, 5);
  EXPECT_EQ(d.rows[60].counts.used, 4);
  EXPECT_EQ(d.rows[60].counts.edge, 1);
  // Three drops of 2 mm and one of 12 mm in 600 s, areas (W_A - D)(W_B - D).
  const double a1 = (632 * 0.153 - 2) * (632 * 0.168 - 2) * 1e-6;
  const double a1_big = (632 * 0.153 - 12) * (632 * 0.168 - 12) * 1e-6;
  const double a2 = (600 * 0.15 - 2) * (600 * 0.16 - 2) * 1e-6;
  // Measured up to the last particle, 70 s of the 600.
  const double r = 6 * std::numbers::pi * 1e-4 / 70 * (8 / a1 + 8 / a1 + 1728 / a1_big + 8 / a2);
  expect_rel(d.rows[60].p.rain_rate, r, 1e-4);
}

TEST(DayProducts, ADamagedStreamGivesTheRecordsBeforeTheDamage) {
  TwoHeaderDay day;
  std::vector<uint8_t> cut(day.s.bytes.begin(), day.s.bytes.end() - 5);
  DayProducts d;
  std::string error, warning;
  ASSERT_TRUE(day_products(cut, ProductSettings{}, &d, &error, &warning)) << error;
  EXPECT_NE(warning, "");
  EXPECT_EQ(d.rows[600].counts.seen, 4);
  EXPECT_EQ(d.rows[601].counts.seen, 0);
}

TEST(DayProducts, AStreamWithoutMainHeaderIsRefused) {
  ProductStreamBuilder s;
  s.particle(HandParticle{});
  DayProducts d;
  std::string error, warning;
  EXPECT_FALSE(day_products(s.bytes, ProductSettings{}, &d, &error, &warning));
  EXPECT_NE(error.find("no main header"), std::string::npos);
  EXPECT_FALSE(read_day_products("/nonexistent/V26150_1.hyd", ProductSettings{}, &d, &error, &warning));
  EXPECT_NE(error.find("/nonexistent/V26150_1.hyd"), std::string::npos);
}

}  // namespace
}  // namespace quorda::products
