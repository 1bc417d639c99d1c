// Drop evaluation: the measures of one matched pair (plane distance, fall velocity, pixel widths,
// equivalent diameter, derived velocities, heights, widths and axis ratios).
#pragma once

#include "match/piece.h"
#include "measure/measure_run.h"
#include "measure/res_line.h"

namespace quorda {

// Velocities at both light planes (m/s).
struct PlaneVelocities {
  double at_a = 0;  // at the plane of camera A, seen first
  double at_b = 0;  // at the plane of camera B
};

// The measures of one pair. The first four are single precision, as the particle record carries
// them; the others are the double-precision values of the pair's line in "res".
struct DropMeasures {
  float eq_diam = 0;                  // equivalent diameter, mm
  float scale_a = 0;                  // pixel width of camera A at the particle, corrected, mm
  float scale_b = 0;                  // the same for camera B
  float vel = 0;                      // fall velocity, mm per line, corrected
  double plane_dist = 0;              // distance of the light planes at the particle, mm
  PlaneVelocities by_first;           // from the delay of the first lines
  PlaneVelocities by_last;            // from the delay of the last lines
  double vel_a = 0, vel_b = 0;        // mean velocity at each plane, m/s
  double height_a = 0, height_b = 0;  // line count times velocity at the plane, mm
  double width_a = 0, width_b = 0;    // widest line times pixel width, mm
  double ratio_a = 0, ratio_b = 0;    // height over width
  double ratio = 0;                   // geometric mean of both ratios
};

// Measures a pair. The header in force at the first line of A is taken (its geometry replaced by
// the settings' when OVERWRITE is 1); without one the run ends. A negative square root argument
// gives 0 and a line on the error stream.
DropMeasures measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b);

// What measuring a pair without messages reads, on a thread other than the writer's: the settings,
// the correction factors and the header book, none of which it changes, and a hint of its own.
struct QuietMeasure {
  const Settings& settings;
  const CorrTables& corr;
  const HeaderBook& hdr;
  int header_hint = -1;  // the node found last
};

// The measures of measure_drop, without a message and without writing the header book: false when
// measure_drop would write a message or end the run (no header in force, a negative square root
// argument), and the pair must then be measured by measure_drop itself, in its turn.
bool measure_drop_quietly(QuietMeasure& ctx, const Piece& drop_a, const Piece& drop_b, int wa, int wb,
                          DropMeasures& m);

// Largest end - start over all lines of a piece, from 0.
int widest_line(const Piece& p);

// The same measures with the widest lines of both pieces (widest_line) already known, as the
// packing finds them while it takes the outline.
DropMeasures measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, int wa, int wb);

// The fifteen values of the pair's line in "res", in the order of the line.
inline void res_values(const DropMeasures& m, double (&values)[kResValues]) {
  values[0] = static_cast<double>(m.eq_diam);
  values[1] = m.plane_dist;
  values[2] = m.by_first.at_a;
  values[3] = m.vel_a;
  values[4] = m.by_last.at_a;
  values[5] = m.by_first.at_b;
  values[6] = m.vel_b;
  values[7] = m.by_last.at_b;
  values[8] = m.height_a;
  values[9] = m.width_a;
  values[10] = m.height_b;
  values[11] = m.width_b;
  values[12] = m.ratio_a;
  values[13] = m.ratio_b;
  values[14] = m.ratio;
}

}  // namespace quorda
