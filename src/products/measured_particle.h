// One particle record of the hydrometeor stream turned into physical quantities, with the geometry
// of the main header in force at its time.
//
// From the record: the equivalent diameter D (mm, stored in 0.01 mm), the fall speed
// v = vel * 1e-4 mm/line * line_fr / 1000 (m/s), the time of day t1 / line_fr (s), and from the
// outline the largest shadow width in each camera, (end - start) pixels times the record's local
// pixel width scale_a or scale_b (mm). A particle whose outline reaches the first or the last live
// pixel of either camera's line (field_edges.h finds them in the data; without that, pixel 0 and
// pixel 2 * centre_pix - 1) was cut by the edge of the field.
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
  // The live part of each camera's line: pixels first[c] to end[c] - 1 (c = 0: A, 1: B). A shadow
  // reaching pixel first or end - 1 is cut; the measuring area is that of the live part.
  int first[2] = {0, 0};
  int end[2] = {0, 0};

  bool operator==(const FieldGeometry&) const = default;
  double width_a_mm() const { return pixels * pixel_a_mm; }  // field width along camera A's line
  double width_b_mm() const { return pixels * pixel_b_mm; }  // along camera B's line
  int live(int cam) const { return end[cam] - first[cam]; }  // live pixels of a camera's line
};

FieldGeometry field_geometry(const MainHeader& h);

struct MeasuredParticle {
  double time_s = 0;      // second of the day of the particle's first line in camera A
  double d_mm = 0;        // equivalent diameter
  double v_m_s = 0;       // fall speed
  double width_a_mm = 0;  // largest shadow width along camera A's line
  double width_b_mm = 0;  // along camera B's line
  double pixel_a_mm = 0;  // the record's local pixel widths scale_a, scale_b
  double pixel_b_mm = 0;
  int reach_lo[2] = {0, 0};  // lowest start and highest end of the runs, per camera (A, B)
  int reach_hi[2] = {0, 0};
  bool edge = false;  // the outline reaches the first or last live pixel of a camera line
};

// Measures the particle record at `record`. Returns false when the record's outline does not fit
// its head (a damaged record); `scratch` holds the unpacked outline.
// REQUIRES: record holds h.length bytes, h was decoded from it, g.line_fr > 0.
bool measure_particle(const uint8_t* record, const ParticleHead& h, const FieldGeometry& g, Outline& scratch,
                      MeasuredParticle* out);

}  // namespace quorda::products
