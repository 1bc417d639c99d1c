// The rain product formulas on hand-computed particles: terminal speed, filter, measuring area,
// diameter classes, the integral quantities of an interval and the median volume diameter, and
// the moments of a sampled exponential distribution against their closed forms.
#include <gtest/gtest.h>
#include <numbers>

#include <cmath>
#include <random>
#include <vector>

#include "products/diameter_bins.h"
#include "products/interval_products.h"
#include "products/measuring_area.h"
#include "products/particle_filter.h"
#include "products/terminal_speed.h"

namespace quorda::products {
namespace {

void expect_rel(double actual, double expected, double rel = 1e-6) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * rel) << "expected " << expected;
}

TEST(TerminalSpeed, FollowsTheExponentialFit) {
  expect_rel(terminal_speed(1.0), 3.9972401);  // 9.65 - 10.3 e^-0.6
  expect_rel(terminal_speed(2.0), 6.5476996);  // 9.65 - 10.3 e^-1.2
  EXPECT_NEAR(terminal_speed(0.109), 0.0, 0.01);
  EXPECT_LT(terminal_speed(20.0), 9.65);
  EXPECT_GT(terminal_speed(20.0), 9.64);
}

MeasuredParticle drop(double d, double v) {
  MeasuredParticle p;
  p.d_mm = d;
  p.v_m_s = v;
  return p;
}

TEST(ParticleFilter, SortsByEdgeThenSizeThenSpeed) {
  const FilterSettings f;  // 50 %, 0.1 to 10 mm
  EXPECT_EQ(classify(drop(2.0, 6.5), f), Verdict::kUsed);
  // 6.5477 m/s is the terminal speed at 2 mm: the band is 3.274 to 9.822 m/s.
  EXPECT_EQ(classify(drop(2.0, 3.28), f), Verdict::kUsed);
  EXPECT_EQ(classify(drop(2.0, 3.27), f), Verdict::kSpeed);
  EXPECT_EQ(classify(drop(2.0, 9.82), f), Verdict::kUsed);
  EXPECT_EQ(classify(drop(2.0, 9.83), f), Verdict::kSpeed);
  EXPECT_EQ(classify(drop(0.09, 0.5), f), Verdict::kSize);
  EXPECT_EQ(classify(drop(10.01, 9.6), f), Verdict::kSize);
  EXPECT_EQ(classify(drop(10.0, 9.6), f), Verdict::kUsed);
  EXPECT_EQ(classify(drop(2.0, NAN), f), Verdict::kSpeed);
  MeasuredParticle cut = drop(20.0, 0.1);
  cut.edge = true;
  EXPECT_EQ(classify(cut, f), Verdict::kEdge);
  FilterSettings narrow;
  narrow.speed_tolerance = 0.1;
  EXPECT_EQ(classify(drop(2.0, 5.8), narrow), Verdict::kSpeed);
  EXPECT_EQ(classify(drop(2.0, 6.0), narrow), Verdict::kUsed);
}

TEST(MeasuringArea, FieldWidthsLessTheDropOrItsShadowAndAPixel) {
  FieldGeometry g;
  g.pixels = 632;
  g.pixel_a_mm = 0.153;  // field 96.696 mm along camera A
  g.pixel_b_mm = 0.168;  // 106.176 mm along camera B
  g.end[0] = g.end[1] = g.pixels;
  MeasuredParticle p = drop(1.0, 4.0);
  p.width_a_mm = 1.05;
  p.width_b_mm = 1.05;
  // (96.696 - 1)(106.176 - 1) mm^2
  expect_rel(effective_area_m2(g, p, AreaRule::kDiameter), 0.010064922496);
  // (96.696 - 0.153 - 1.05)(106.176 - 0.168 - 1.05) mm^2
  expect_rel(effective_area_m2(g, p, AreaRule::kShadow), 0.010022754294);
  p.width_a_mm = 96.6;
  EXPECT_EQ(effective_area_m2(g, p, AreaRule::kShadow), 0.0);
  EXPECT_EQ(effective_area_m2(g, drop(97.0, 9.0), AreaRule::kDiameter), 0.0);
}

TEST(DiameterBins, CoverZeroToTheTopWithANarrowerLastBin) {
  const DiameterBins b = DiameterBins::uniform(0.2, 10.0);
  ASSERT_EQ(b.count(), 50);
  EXPECT_EQ(b.index(0.0), 0);
  EXPECT_EQ(b.index(0.1999), 0);
  EXPECT_EQ(b.index(0.2), 1);
  EXPECT_EQ(b.index(9.99), 49);
  EXPECT_EQ(b.index(10.0), -1);
  EXPECT_EQ(b.index(-0.01), -1);
  EXPECT_NEAR(b.centre(5), 1.1, 1e-12);
  const DiameterBins c = DiameterBins::uniform(0.3, 1.0);
  ASSERT_EQ(c.count(), 4);
  EXPECT_NEAR(c.width(3), 0.1, 1e-12);
  EXPECT_EQ(c.index(0.95), 3);
  // From a lower edge on the grid and off it: the inner edges stay on the grid.
  const DiameterBins d = DiameterBins::uniform(0.2, 1.0, 0.4);
  ASSERT_EQ(d.count(), 3);
  EXPECT_EQ(d.index(0.3999), -1);
  EXPECT_EQ(d.index(0.4), 0);
  EXPECT_NEAR(d.upper(0), 0.6, 1e-12);
  const DiameterBins e = DiameterBins::uniform(0.2, 1.0, 0.3);
  ASSERT_EQ(e.count(), 4);
  EXPECT_NEAR(e.width(0), 0.1, 1e-12);
  EXPECT_NEAR(e.lower(1), 0.4, 1e-12);
}

// N_t counts the drops of the classes only; the water takes every drop, and a drop just below the
// classes gives the first class the share of its spread that reaches into it.
TEST(IntervalProducts, DropsBelowTheClassesCountForTheWaterOnly) {
  const DiameterBins bins = DiameterBins::uniform(0.2, 10.0, 0.4);
  IntervalSums s(bins.count());
  s.add(0.38, 1.5, 0.01, bins, 0.08);
  const IntervalProducts p = interval_products(s, 60.0, bins, NAN);
  EXPECT_EQ(p.nt, 0.0);
  EXPECT_GT(p.rain_rate, 0.0);
  expect_rel(p.nd[0], 0.25 / (0.01 * 1.5) / (60 * 0.2));
}

// Two drops in a minute, each seen through 0.01 m^2: 1 mm at 4 m/s and 2 mm at 6.5 m/s.
TEST(IntervalProducts, TwoDropsGiveTheHandComputedValues) {
  const DiameterBins bins = DiameterBins::uniform(0.2, 10.0);
  IntervalSums s(bins.count());
  s.add(1.0, 4.0, 0.01, bins);
  s.add(2.0, 6.5, 0.01, bins);
  const IntervalProducts p = interval_products(s, 60.0, bins, 1.5);
  // 1 / (A v) = 25 and 15.3846 drops per m^3.
  expect_rel(p.nt, (25 + 15.384615384615) / 60);
  // 6 pi 1e-4 (1 + 8) / 0.01 / 60
  expect_rel(p.rain_rate, 0.028274333882);
  // pi/6 1e-3 (25 * 1 + 15.3846 * 8) / 60
  expect_rel(p.lwc, 0.0012922149270);
  // (25 * 1 + 15.3846 * 64) / 60
  expect_rel(p.z, 16.826923076923);
  expect_rel(p.dbz, 12.260047094);
  // (25 + 15.3846 * 16) / (25 + 15.3846 * 8)
  expect_rel(p.dm, 1.8311688312);
  expect_rel(p.nw, 9.3650757847);
  expect_rel(p.amount, 0.00047123889804);
  EXPECT_EQ(p.d0, 1.5);
  for (int i = 0; i < bins.count(); ++i) {
    if (i == 5) {
      expect_rel(p.nd[i], 25.0 / (60 * 0.2));
    } else if (i == 10) {
      expect_rel(p.nd[i], 15.384615384615 / (60 * 0.2));
    } else {
      EXPECT_EQ(p.nd[i], 0.0) << "bin " << i;
    }
  }
  EXPECT_EQ(s.bin_count()[5], 1);
  EXPECT_EQ(s.bin_count()[10], 1);
}

// The counting errors against a Monte Carlo of the counting itself: every drop of an interval
// stands for a Poisson number of drops (mean 1) in repeated intervals, and the spread of the
// products over the repeats is what the formulas give. A drop spread over its diameter step keeps
// its whole weight over the classes.
TEST(IntervalProducts, CountingErrorsAgreeWithAMonteCarloOfTheCounts) {
  const DiameterBins bins = DiameterBins::uniform(0.2, 10.0);
  struct Drop {
    double d, v, a;
  };
  std::vector<Drop> drops;
  std::mt19937_64 rng(7);
  std::exponential_distribution<double> size(2.0);
  std::uniform_real_distribution<double> area(0.004, 0.01);
  for (int i = 0; i < 60; ++i) {
    const double d = 0.3 + size(rng);
    drops.push_back({d, terminal_speed(d), area(rng)});
  }
  IntervalSums once(bins.count());
  for (const Drop& x : drops) once.add(x.d, x.v, x.a, bins, 0.1);
  const IntervalProducts p = interval_products(once, 60, bins, NAN);
  double nd_sum = 0;
  for (int i = 0; i < bins.count(); ++i) nd_sum += p.nd[i] * bins.width(i);
  expect_rel(nd_sum, p.nt, 1e-9);

  constexpr int kRepeats = 20000;
  const int bin = 3;  // 0.6-0.8 mm
  double sum[5] = {}, sq[5] = {};
  std::poisson_distribution<int> times(1.0);
  for (int n = 0; n < kRepeats; ++n) {
    IntervalSums s(bins.count());
    for (const Drop& x : drops)
      for (int k = times(rng); k > 0; --k) s.add(x.d, x.v, x.a, bins, 0.1);
    const IntervalProducts q = interval_products(s, 60, bins, NAN);
    const double v[5] = {q.nt, q.rain_rate, q.z, std::isfinite(q.dm) ? q.dm : p.dm, q.nd[bin]};
    for (int i = 0; i < 5; ++i) {
      sum[i] += v[i];
      sq[i] += v[i] * v[i];
    }
  }
  const double formula[5] = {p.nt_se, p.rain_rate_se, p.z_se, p.dm_se, p.nd_se[bin]};
  const char* name[5] = {"N_t", "R", "Z", "D_m", "N(D)"};
  expect_rel(p.dbz_se, 10 / std::numbers::ln10 * p.z_se / p.z);
  for (int i = 0; i < 5; ++i) {
    const double mean = sum[i] / kRepeats;
    const double sd = std::sqrt(sq[i] / kRepeats - mean * mean);
    // Exact for the sums; D_m to first order, which with 60 drops is within 15 %.
    EXPECT_NEAR(formula[i] / sd, 1.0, i == 3 ? 0.15 : 0.03) << name[i];
  }
}

TEST(IntervalProducts, DropsOutsideTheBinsCountInTheIntegrals) {
  const DiameterBins bins = DiameterBins::uniform(0.2, 1.0);
  IntervalSums s(bins.count());
  s.add(2.0, 6.5, 0.01, bins);
  const IntervalProducts p = interval_products(s, 60.0, bins, 2.0);
  expect_rel(p.rain_rate, 6 * std::numbers::pi * 1e-4 * 8 / 0.01 / 60);
  for (double v : p.nd) EXPECT_EQ(v, 0.0);
}

TEST(IntervalProducts, AnEmptyIntervalHasZeroRainAndUndefinedRatios) {
  const DiameterBins bins = DiameterBins::uniform(0.2, 10.0);
  const IntervalProducts p = interval_products(IntervalSums(bins.count()), 60.0, bins, NAN);
  EXPECT_EQ(p.rain_rate, 0.0);
  EXPECT_EQ(p.nt, 0.0);
  EXPECT_EQ(p.amount, 0.0);
  EXPECT_TRUE(std::isnan(p.dbz));
  EXPECT_TRUE(std::isnan(p.dm));
  EXPECT_TRUE(std::isnan(p.nw));
}

// Drops on a fine grid whose weights 1 / (A v dt) follow N(D) = N0 exp(-Lambda D) dD, with
// N0 = 8000 m^-3 mm^-1 and Lambda = 3 mm^-1 (the tail beyond 10 mm is negligible): N_t = N0 / Lambda, W = pi
// 1e-3 N0 / Lambda^4, Z = 720 N0 / Lambda^7, D_m = 4 / Lambda, N_w = N0, D_0 = 3.672 / Lambda.
TEST(IntervalProducts, AnExponentialDistributionGivesItsClosedForms) {
  const double n0 = 8000, lambda = 3, dt = 60, step = 0.001;
  const DiameterBins bins = DiameterBins::uniform(0.2, 10.0);
  IntervalSums s(bins.count());
  std::vector<WeightedDrop> drops;
  for (double d = step / 2; d < 10; d += step) {
    const double v = terminal_speed(std::max(d, 0.2));
    const double per_m3 = n0 * std::exp(-lambda * d) * step * dt;  // 1 / (A v)
    const double area = 1.0 / (per_m3 * v);
    s.add(d, v, area, bins);
    drops.push_back({d, d * d * d * per_m3});
  }
  const double d0 = median_volume_diameter(drops);
  const IntervalProducts p = interval_products(s, dt, bins, d0);
  expect_rel(p.nt, n0 / lambda, 1e-6);
  expect_rel(p.lwc, std::numbers::pi * 1e-3 * n0 / std::pow(lambda, 4), 1e-5);
  expect_rel(p.z, 720 * n0 / std::pow(lambda, 7), 1e-5);
  expect_rel(p.dm, 4 / lambda, 1e-5);
  expect_rel(p.nw, n0, 1e-4);
  expect_rel(p.d0, 3.672 / lambda, 1e-3);
  // A class holds the mean of N over its width: N0 (e^(-3 a) - e^(-3 b)) / (3 * 0.2).
  expect_rel(p.nd[0], n0 * (1 - std::exp(-0.6)) / 0.6, 1e-5);
  expect_rel(p.nd[10], n0 * (std::exp(-6.0) - std::exp(-6.6)) / 0.6, 1e-5);
}

TEST(MedianVolumeDiameter, InterpolatesBetweenTheDropsMidPoints) {
  std::vector<WeightedDrop> none;
  EXPECT_TRUE(std::isnan(median_volume_diameter(none)));
  std::vector<WeightedDrop> one = {{2.5, 3.0}};
  EXPECT_EQ(median_volume_diameter(one), 2.5);
  std::vector<WeightedDrop> two = {{2.0, 1.0}, {1.0, 1.0}};  // unsorted on purpose
  EXPECT_DOUBLE_EQ(median_volume_diameter(two), 1.5);
  // Weights 1, 2, 1 at 1, 2, 3 mm: half is 2, reached at the middle drop's mid-point.
  std::vector<WeightedDrop> three = {{1.0, 1.0}, {3.0, 1.0}, {2.0, 2.0}};
  EXPECT_DOUBLE_EQ(median_volume_diameter(three), 2.0);
  // Weights 1, 1, 6 at 1, 2, 3 mm: cumulative mid-points 0.5, 1.5, 5; half is 4, so 2 + 2.5 / 3.5.
  std::vector<WeightedDrop> heavy_top = {{1.0, 1.0}, {2.0, 1.0}, {3.0, 6.0}};
  EXPECT_DOUBLE_EQ(median_volume_diameter(heavy_top), 2.0 + 2.5 / 3.5);
  // A dominant smallest drop: half lies just past its mid-point.
  std::vector<WeightedDrop> low = {{1.0, 10.0}, {4.0, 1.0}};
  EXPECT_DOUBLE_EQ(median_volume_diameter(low), 1.0 + 3.0 * 0.5 / 5.5);
}

}  // namespace
}  // namespace quorda::products
