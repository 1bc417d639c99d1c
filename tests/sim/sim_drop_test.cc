// The simulator's instrument model run backwards: drops rendered onto the two cameras and measured
// the way the drop evaluation measures a matched pair give back their place, size and speed.
#include "sim/sim_drop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/rain_physics.h"
#include "sim/sim_random.h"

namespace quorda::sim {
namespace {

struct Seen {
  int64_t first = -1, last = -1;
  int x_min = 1 << 20, x_max = -(1 << 20);
  std::vector<quorda::Run> runs;
};

Seen render(const SimInstrument& inst, const SimDrop& d, int cam) {
  Seen s;
  for (int64_t y = d.span_first[cam] - 2; y <= d.span_last[cam] + 2; ++y) {
    quorda::Run r;
    bool clipped = false;
    if (!drop_run_at(inst, d, cam, y, &r, &clipped)) continue;
    if (s.first < 0) s.first = y;
    EXPECT_EQ(s.last < 0 ? y : s.last + 1, y) << "shadowed lines must be consecutive";
    s.last = y;
    s.x_min = std::min<int>(s.x_min, r.start);
    s.x_max = std::max<int>(s.x_max, r.end);
    s.runs.push_back(r);
  }
  return s;
}

// The measures of a matched pair as the drop evaluation forms them (correction factors 1).
struct Measured {
  double ca, cb, scale_a, scale_b, plane, vel_m_s, eq_diam;
};

Measured measure(const SimInstrument& inst, const Seen& a, const Seen& b) {
  Measured m;
  const int c = inst.centre_pix;
  m.ca = (a.x_min + a.x_max) / 2 - c;
  m.cb = (b.x_min + b.x_max) / 2 - c;
  m.plane = plane_distance(inst, (a.x_min + a.x_max) * 0.5, (b.x_min + b.x_max) * 0.5);
  double dsum = static_cast<double>((b.first - a.first) + (b.last - a.last));
  if (dsum <= 1.0) dsum = 1.0;
  const double vel = m.plane * 2 / dsum;  // mm per line
  m.vel_m_s = vel * inst.line_fr / 1000.0;
  m.scale_a = (inst.xs2 * m.cb + inst.l1) * inst.xs1 / inst.l1;
  m.scale_b = (inst.l2 - inst.xs1 * m.ca) * inst.xs2 / inst.l2;
  const size_t n = std::min(a.runs.size(), b.runs.size());
  double v = 0;
  for (size_t i = 0; i < n; ++i)
    v += (a.runs[i].end - a.runs[i].start) * m.scale_a * (b.runs[i].end - b.runs[i].start) * m.scale_b *
         3.14159 * 0.25 * vel;
  v = static_cast<double>(a.runs.size() + b.runs.size()) * v / (static_cast<double>(n) * 2);
  m.eq_diam = std::cbrt(v * 6 / 3.14159);
  return m;
}

SimDrop make_drop(const SimInstrument& inst, double diam, double ca, double cb, double t_a) {
  SimDrop d;
  d.diam = diam;
  d.ratio = axis_ratio(diam);
  d.speed = fall_speed(diam);
  d.ca = ca;
  d.cb = cb;
  d.t_a = t_a;
  place_drop(inst, d);
  return d;
}

TEST(InstrumentModel, PixelWidthsAndPlaneDistanceFollowTheEvaluationGeometry) {
  SimInstrument inst;
  const double c = inst.centre_pix;
  EXPECT_DOUBLE_EQ(local_scale_a(inst, 0, 0), inst.xs1);
  EXPECT_DOUBLE_EQ(local_scale_b(inst, 0, 0), inst.xs2);
  // Camera A's pixels widen with the distance along camera B's line, camera B's narrow with the
  // offset along camera A's line.
  EXPECT_GT(local_scale_a(inst, 0, 100), inst.xs1);
  EXPECT_DOUBLE_EQ(local_scale_a(inst, 300, 100), local_scale_a(inst, -300, 100));
  EXPECT_LT(local_scale_b(inst, 100, 0), inst.xs2);
  EXPECT_DOUBLE_EQ(plane_distance(inst, 0, 0), inst.hbl);
  EXPECT_DOUBLE_EQ(plane_distance(inst, 2 * c, 0), inst.hbr);
  EXPECT_DOUBLE_EQ(plane_distance(inst, 2 * c, 2 * c), inst.hfr);
  EXPECT_NEAR(plane_distance(inst, 0, 2 * c), inst.hbl + inst.hfr - inst.hbr, 1e-12);
  EXPECT_NEAR(plane_distance(inst, c, c), (inst.hbl + inst.hfr) / 2, 1e-12);
}

TEST(InstrumentModel, CameraBSeesTheDropAfterThePlaneDistanceAtItsSpeed) {
  SimInstrument inst;
  const SimDrop d = make_drop(inst, 2.0, 120, -80, 3600.0);
  EXPECT_NEAR((d.t_b - d.t_a) * d.speed * 1000.0, d.plane, 1e-6);
  // A 2 mm drop at about 6.5 m/s shows in about 2 * 1 mm / 6.5 m/s * 55000 = 17 lines.
  const Seen a = render(inst, d, 0);
  EXPECT_NEAR(static_cast<double>(a.runs.size()), 2 * d.semi_v / (d.speed * 1000) * inst.line_fr, 1.0);
}

TEST(InstrumentModel, RenderedDropIsMeasuredBackAtItsPlaceSizeAndSpeed) {
  SimInstrument inst;
  SimRandom rng(11);
  std::vector<double> diam_err, speed_err;
  for (int i = 0; i < 400; ++i) {
    const double diam = rng.uniform(0.5, 6.0);
    const double ca = rng.uniform(-290, 290), cb = rng.uniform(-290, 290);
    const SimDrop d = make_drop(inst, diam, ca, cb, 3600.0 + i * 0.01 + rng.uniform());
    const Seen a = render(inst, d, 0), b = render(inst, d, 1);
    ASSERT_GE(a.runs.size(), 2u);
    ASSERT_GE(b.runs.size(), 2u);
    const Measured m = measure(inst, a, b);
    EXPECT_NEAR(m.ca, ca, 1.0);
    EXPECT_NEAR(m.cb, cb, 1.0);
    EXPECT_NEAR(m.plane, d.plane, 0.01);
    EXPECT_NEAR(m.scale_a, d.scale[0], 0.001);
    EXPECT_NEAR(m.scale_b, d.scale[1], 0.001);
    diam_err.push_back(std::abs(m.eq_diam / diam - 1));
    speed_err.push_back(std::abs(m.vel_m_s / d.speed - 1));
    EXPECT_LT(diam_err.back(), 0.25) << "diam " << diam;
    EXPECT_LT(speed_err.back(), 0.05) << "diam " << diam;
  }
  auto median = [](std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  EXPECT_LT(median(diam_err), 0.03);
  EXPECT_LT(median(speed_err), 0.01);
}

TEST(InstrumentModel, ClutterIsOnePixelWideInTheOneCameraThatSeesIt) {
  SimInstrument inst;
  SimDrop d;
  d.kind = ParticleKind::kClutter;
  d.seen[0] = false;
  d.speed = 0.5;
  d.diam = 4 / inst.line_fr * 500.0;  // four lines
  d.ratio = 1;
  d.ca = 10.3;
  d.cb = -50.6;
  d.t_a = 100.0;
  place_drop(inst, d);
  EXPECT_TRUE(render(inst, d, 0).runs.empty());
  const Seen b = render(inst, d, 1);
  ASSERT_GE(b.runs.size(), 3u);
  for (const quorda::Run& r : b.runs) EXPECT_EQ(r.end - r.start, 1);
}

TEST(InstrumentModel, ChordsLeavingTheLineAreClippedAndReported) {
  SimInstrument inst;
  const SimDrop d = make_drop(inst, 3.0, -inst.centre_pix + 2.0, 0, 500.0);
  bool any_clipped = false;
  for (int64_t y = d.span_first[0]; y <= d.span_last[0]; ++y) {
    quorda::Run r;
    bool clipped = false;
    if (drop_run_at(inst, d, 0, y, &r, &clipped)) {
      EXPECT_GE(r.start, 0);
      any_clipped |= clipped;
    }
  }
  EXPECT_TRUE(any_clipped);
}

}  // namespace
}  // namespace quorda::sim
