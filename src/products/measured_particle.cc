// Physical quantities of one particle record.
#include "products/measured_particle.h"

#include <algorithm>

namespace quorda::products {
namespace {

constexpr double kDiamUnitMm = 0.01;        // eq_diam field
constexpr double kVelUnitMmPerLine = 1e-4;  // vel field
constexpr double kScaleUnitMm = 1e-4;       // scale_a, scale_b fields

// Largest run width (pixels) of one camera's outline and whether a run touches a line end.
int widest_run(const int16_t* start, const int16_t* end, int lines, int pixels, bool* edge) {
  int widest = 0;
  for (int i = 0; i < lines; ++i) {
    widest = std::max(widest, end[i] - start[i]);
    if (start[i] <= 0 || end[i] >= pixels) *edge = true;
  }
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
  return g;
}

bool measure_particle(const uint8_t* record, const ParticleHead& h, const FieldGeometry& g, Outline& scratch,
                      MeasuredParticle* out) {
  if (!decode_outline(record, h, scratch)) return false;
  MeasuredParticle p;
  p.time_s = h.t1 / g.line_fr;
  p.d_mm = h.eq_diam * kDiamUnitMm;
  p.v_m_s = h.vel * kVelUnitMmPerLine * g.line_fr / 1000.0;
  bool edge = false;
  const int wa = widest_run(scratch.start_a, scratch.end_a, scratch.lines_a, g.pixels, &edge);
  const int wb = widest_run(scratch.start_b, scratch.end_b, scratch.lines_b, g.pixels, &edge);
  p.width_a_mm = wa * h.scale_a * kScaleUnitMm;
  p.width_b_mm = wb * h.scale_b * kScaleUnitMm;
  p.edge = edge;
  *out = p;
  return true;
}

}  // namespace quorda::products
