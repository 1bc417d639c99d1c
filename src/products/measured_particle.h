// One particle record of the hydrometeor stream turned into physical quantities, with the geometry
// of the main header in force at its time.
//
// From the record: the equivalent diameter D (mm, stored in 0.01 mm), the fall speed
// v = vel * 1e-4 mm/line * line_fr / 1000 (m/s), the time of day t1 / line_fr (s), and from the
// outline the largest shadow width in each camera, (end - start) pixels times the record's local
// pixel width scale_a or scale_b (mm). A particle whose outline reaches the first pixel (0) or the
// last pixel (2 * centre_pix - 1) of either camera's line was cut by the edge of the field.
#pragma once

#include <cstdint>

#include "format/main_header.h"
#include "format/particle_record.h"

namespace quorda::products {

// The geometry of one main header that the products need.
struct FieldGeometry {
  double line_fr = 0;        // lines per second
  int pixels = 0;            // pixels of each camera line: 2 * centre_pix
  double pixel_a_mm = 0;     // pixel width of camera A at the centre of the field (XSCALE0_1)
  double pixel_b_mm = 0;     // pixel width of camera B at the centre (XSCALE0_2)
  double distance_a_mm = 0;  // camera A's distance from the centre of the field (l0_1); 0: unknown
  double distance_b_mm = 0;  // camera B's (l0_2)

  bool operator==(const FieldGeometry&) const = default;
  double width_a_mm() const { return pixels * pixel_a_mm; }  // field width along camera A's line
  double width_b_mm() const { return pixels * pixel_b_mm; }  // along camera B's line
};

FieldGeometry field_geometry(const MainHeader& h);

struct MeasuredParticle {
  double time_s = 0;      // second of the day of the particle's first line in camera A
  double d_mm = 0;        // equivalent diameter
  double v_m_s = 0;       // fall speed
  double width_a_mm = 0;  // largest shadow width along camera A's line
  double width_b_mm = 0;  // along camera B's line
  bool edge = false;      // the outline reaches the first or last pixel of a camera line
};

// Measures the particle record at `record`. Returns false when the record's outline does not fit
// its head (a damaged record); `scratch` holds the unpacked outline.
// REQUIRES: record holds h.length bytes, h was decoded from it, g.line_fr > 0.
bool measure_particle(const uint8_t* record, const ParticleHead& h, const FieldGeometry& g, Outline& scratch,
                      MeasuredParticle* out);

}  // namespace quorda::products
