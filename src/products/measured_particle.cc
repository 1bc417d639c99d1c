// Physical quantities of one particle record.
#include "products/measured_particle.h"

#include <algorithm>
#include <cstdint>

namespace quorda::products {
namespace {

constexpr double kDiamUnitMm = 0.01;        // eq_diam field
constexpr double kVelUnitMmPerLine = 1e-4;  // vel field
constexpr double kScaleUnitMm = 1e-4;       // scale_a, scale_b fields

// Largest run width (pixels) of one camera's outline, the lowest start and highest end of its
// runs, and whether a run touches an end of the live line.
int widest_run(const int16_t* start, const int16_t* end, int lines, const FieldGeometry& g, int cam,
               MeasuredParticle* p) {
  int widest = 0;
  int lo = INT16_MAX, hi = INT16_MIN;
  for (int i = 0; i < lines; ++i) {
    widest = std::max(widest, end[i] - start[i]);
    lo = std::min<int>(lo, start[i]);
    hi = std::max<int>(hi, end[i]);
  }
  p->reach_lo[cam] = lo;
  p->reach_hi[cam] = hi;
  if (lines > 0 && (lo <= g.first[cam] || hi >= g.end[cam])) p->edge = true;
  return widest;
}

}  // namespace

FieldGeometry field_geometry(const MainHeader& h) {
  FieldGeometry g;
  g.line_fr = h.line_fr;
  g.pixels = 2 * h.centre_pix;
  g.pixel_a_mm = h.xscale0_1;
  g.pixel_b_mm = h.xscale0_2;
  g.distance_a_mm = h.l0_1;
  g.distance_b_mm = h.l0_2;
  g.end[0] = g.end[1] = g.pixels;
  return g;
}

bool measure_particle(const uint8_t* record, const ParticleHead& h, const FieldGeometry& g, Outline& scratch,
                      MeasuredParticle* out) {
  if (!decode_outline(record, h, scratch)) return false;
  MeasuredParticle p;
  p.time_s = h.t1 / g.line_fr;
  p.d_mm = h.eq_diam * kDiamUnitMm;
  p.v_m_s = h.vel * kVelUnitMmPerLine * g.line_fr / 1000.0;
  const int wa = widest_run(scratch.start_a, scratch.end_a, scratch.lines_a, g, 0, &p);
  const int wb = widest_run(scratch.start_b, scratch.end_b, scratch.lines_b, g, 1, &p);
  p.pixel_a_mm = h.scale_a * kScaleUnitMm;
  p.pixel_b_mm = h.scale_b * kScaleUnitMm;
  p.width_a_mm = wa * p.pixel_a_mm;
  p.width_b_mm = wb * p.pixel_b_mm;
  *out = p;
  return true;
}

}  // namespace quorda::products
