// Placement and rendering of one simulated particle.
#include "sim/sim_drop.h"

#include <algorithm>
#include <cmath>

namespace quorda::sim {

void place_drop(const SimInstrument& inst, SimDrop& d) {
  const double c = inst.centre_pix;
  d.centre_px[0] = c + d.ca;
  d.centre_px[1] = c + d.cb;
  d.scale[0] = local_scale_a(inst, d.ca, d.cb);
  d.scale[1] = local_scale_b(inst, d.ca, d.cb);
  d.plane = plane_distance(inst, d.centre_px[0], d.centre_px[1]);
  const double v_mm_s = d.speed * 1000.0;
  d.t_b = d.t_a + d.plane / v_mm_s;
  d.semi_h = 0.5 * d.diam * std::cbrt(1.0 / d.ratio);
  d.semi_v = d.semi_h * d.ratio;
  const double t[2] = {d.t_a, d.t_b};
  for (int cam = 0; cam < 2; ++cam) {
    const double half = d.semi_v / v_mm_s * inst.line_fr;  // lines from centre to top
    const double mid = t[cam] * inst.line_fr;
    d.span_first[cam] = static_cast<int64_t>(std::ceil(mid - half));
    d.span_last[cam] = static_cast<int64_t>(std::floor(mid + half));
  }
}

bool drop_run_at(const SimInstrument& inst, const SimDrop& d, int cam, int64_t y, Run* out, bool* clipped) {
  *clipped = false;
  if (!d.seen[cam] || y < d.span_first[cam] || y > d.span_last[cam]) return false;
  double half_px;
  if (d.kind == ParticleKind::kClutter) {
    half_px = 0.5;  // clutter is one pixel wide
  } else {
    const double t = d.t_a + (cam == 0 ? 0.0 : d.t_b - d.t_a);
    const double z = d.speed * 1000.0 * (static_cast<double>(y) / inst.line_fr - t);  // mm from centre
    const double q = 1.0 - (z / d.semi_v) * (z / d.semi_v);
    if (q <= 0) return false;
    half_px = d.semi_h * std::sqrt(q) / d.scale[cam];
  }
  const double p = d.centre_px[cam];
  const double first = std::ceil(p - half_px - 0.5);
  const double last = std::floor(p + half_px - 0.5);
  if (last < first) return false;
  const double lo = inst.dead_first[cam], hi = inst.pixels() - 1 - inst.dead_last[cam];
  if (first < lo || last > hi) *clipped = true;
  const double a = std::max(first, lo), b = std::min(last, hi);
  if (b < a) return false;
  out->start = static_cast<int16_t>(a);
  out->end = static_cast<int16_t>(b + 1);
  return true;
}

}  // namespace quorda::sim
