// The simulated instrument: timing and geometry of the two cameras, and the measuring model of the
// drop evaluation run backwards.
//
// A drop's place is given as its centre pixel offsets cA and cB from the line centre of camera A
// and camera B (the evaluation measures it that way). The pixel width each camera has at that
// place and the distance between the two light planes there follow from the same formulas the
// evaluation applies to a measured pair, so a drop rendered here is measured back at its true size
// and speed up to the pixel and line rounding.
#pragma once

namespace quorda::sim {

struct SimInstrument {
  double line_fr = 55000.0;  // lines per second
  int centre_pix = 316;      // a camera line has 2 * centre_pix pixels
  double xs1 = 0.153;        // mm per pixel of camera A at the centre of the area
  double xs2 = 0.168;        // mm per pixel of camera B at the centre of the area
  double l1 = 250.0;         // distance of camera A from the centre of the area, mm
  double l2 = 250.0;         // distance of camera B, mm
  double hbl = 6.2;          // light plane distances at three corners, mm
  double hbr = 6.3;
  double hfr = 6.4;
  // Pixels at the start and at the end of each camera's line (A, B) that never shadow: masked or
  // dead end pixels. A drop's shadow is cut where the live part of the line ends.
  int dead_first[2] = {0, 0};
  int dead_last[2] = {0, 0};

  int pixels() const { return 2 * centre_pix; }
};

// Pixel width of camera A (mm per pixel) at a drop with centre offsets cA, cB (pixels).
double local_scale_a(const SimInstrument& inst, double ca, double cb);
// Pixel width of camera B (mm per pixel) at that drop.
double local_scale_b(const SimInstrument& inst, double ca, double cb);
// Distance between the light planes (mm) at the pixel positions xA, xB along the two lines:
// bilinear over the area, HBL at (0, 0), HBR at (2c, 0), HFR at (2c, 2c).
double plane_distance(const SimInstrument& inst, double xa, double xb);

}  // namespace quorda::sim
