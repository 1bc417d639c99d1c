// SimDrop: one simulated particle (a rain drop, or clutter that only one camera sees), how each
// camera renders it, and what the renderer learned about it for the truth table.
//
// Time is the line number of the instrument: seconds of the day times the line frequency. Camera
// line y is scanned at time y / line_fr; it shadows the drop's horizontal cross-section where the
// camera's light plane cuts the drop. Pixel i of a line covers [i, i + 1) and is shadowed when its
// centre i + 0.5 lies inside the cross-section's chord; a run {start, end} holds the pixels
// start to end - 1, so end - start is the shadowed width in pixels.
#pragma once

#include <cstdint>

#include "format/line_record.h"
#include "sim/sim_instrument.h"

namespace quorda::sim {

enum class ParticleKind : int { kDrop = 0, kClutter = 1 };

struct SimDrop {
  uint64_t id = 0;
  ParticleKind kind = ParticleKind::kDrop;
  double t_a = 0;               // seconds of day at which the centre crosses camera A's plane
  double t_b = 0;               // the same for camera B's plane
  double diam = 0;              // equivalent diameter, mm
  double ratio = 1;             // axis ratio, vertical / horizontal
  double speed = 0;             // fall speed, m/s
  double ca = 0, cb = 0;        // centre pixel offsets from the line centres
  double plane = 0;             // light plane distance at the drop, mm
  double semi_h = 0;            // horizontal semi-axis, mm
  double semi_v = 0;            // vertical semi-axis, mm
  bool seen[2] = {true, true};  // camera A, camera B
  double centre_px[2] = {};     // centre pixel position along each camera's line
  double scale[2] = {};         // local mm per pixel of each camera
  int64_t span_first[2] = {};   // lines during which the plane cuts the drop
  int64_t span_last[2] = {};

  // Filled in by the renderer.
  int64_t first_line[2] = {-1, -1};  // first and last shadowed line
  int64_t last_line[2] = {-1, -1};
  int32_t lines[2] = {};
  int16_t x_min[2] = {INT16_MAX, INT16_MAX};
  int16_t x_max[2] = {INT16_MIN, INT16_MIN};
  int16_t width[2] = {};  // largest end - start of the lines after the first, as piece assignment
  bool merged = false;    // shared a run, or touched another particle's run in the next line
  bool edge = false;      // cut by the end of a camera line
  bool cut = false;       // a block boundary ran through it
};

// Places a drop: fills centre_px, scale, plane, t_b, semi-axes and the line spans from the fields
// kind, t_a, diam, ratio, speed, ca, cb, seen. Clutter is one pixel wide in the camera that sees
// it; its diam and speed set only how many lines it lasts.
void place_drop(const SimInstrument& inst, SimDrop& d);

// The run camera cam (0 = A, 1 = B) shadows at line y, clipped to the line's live pixels. False
// when the drop shadows no pixel of that line. Sets *clipped when the chord left the live part.
bool drop_run_at(const SimInstrument& inst, const SimDrop& d, int cam, int64_t y, Run* out, bool* clipped);

}  // namespace quorda::sim
