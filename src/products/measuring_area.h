// Effective measuring area of a particle: the horizontal area (m^2) over which a particle's centre
// may lie for the particle to be recorded and kept, so that a particle seen once in an interval of
// dt seconds stands for a flux of 1 / (A dt) drops per m^2 and second.
//
// Three rules, for field widths W_A = 2 centre_pix XSCALE0_1 and W_B = 2 centre_pix XSCALE0_2 (mm):
//
//   kDiameter: A = (W_A - D)(W_B - D) * 1e-6, with D the equivalent diameter (mm).
//   kShadow:   A = (W_A - p_A - w_A)(W_B - p_B - w_B) * 1e-6, with w_A, w_B the particle's largest
//              shadow widths along each camera's line and p_A, p_B the pixel widths (mm): where
//              the particle lies wholly inside both lines. The edge filter rejects a particle
//              whose shadow covers pixel 0 or pixel N - 1 of a line of N pixels; a shadow of w
//              pixels avoids both when its centre lies in a stretch of N - 1 - w pixels, not N - w.
//   kPaired:   A = W_A W_B S(w) * 1e-6, S(w) the share of the field where a drop of horizontal
//              width w = (w_A + w_B) / 2 lies wholly inside both lines and its two shadows pass the
//              converter's width test, so that it is paired at all.
//
// kPaired is the default. The converter pairs an A piece with a B piece only when their widths in
// pixels are similar (widths_pair). A camera's pixel width grows with the distance from it, from
// XSCALE0 (l0 - C XSCALE0') / l0 to XSCALE0 (l0 + C XSCALE0') / l0 across the field (C = centre_pix,
// l0 the camera's distance from the centre, XSCALE0' the other camera's pixel width), so near the
// corner close to camera A and far from camera B a drop is many pixels wide in A and few in B and
// is never paired. S(w) takes the field as uniform in the pixel offsets cA, cB of both cameras,
// with camera A's pixel width at cB and camera B's at cA as the converter computes them, and a
// shadow of L pixels counting floor(L) + 1 pixels with probability frac(L) and floor(L) otherwise
// (a pixel is shadowed when its centre is). Without the width test S(w) gives kShadow's area.
// docs/rain_products.md compares the rules with the simulator's truth.
#pragma once

#include <vector>

#include "products/measured_particle.h"

namespace quorda::products {

enum class AreaRule { kPaired, kShadow, kDiameter };

// Whether the converter's pairing takes an A piece and a B piece of these widths (largest
// end - start pixels of a line): both non-zero, at most 5 apart, ratio within 2/3 .. 3/2 in single
// precision (2/3 itself passes).
bool widths_pair(int wa, int wb);

// Camera A's pixel width (mm) at camera B offset cb (pixels from B's line centre), and camera B's
// at camera A offset ca: in proportion to the distance from the camera, as the converter computes
// them. An unknown camera distance (0) gives the centre value.
double pixel_width_a_at(const FieldGeometry& g, double cb);
double pixel_width_b_at(const FieldGeometry& g, double ca);

// S(w) of kPaired for a drop of horizontal width w (mm), 0 to 1.
double paired_share(const FieldGeometry& g, double width_mm);

// The area in m^2; zero or negative when the particle does not fit the field. kPaired computes
// S(w) afresh (MeasuringArea keeps a table of it).
double effective_area_m2(const FieldGeometry& g, const MeasuredParticle& p, AreaRule rule);

// effective_area_m2 with kPaired's S(w) tabulated per geometry every kStepMm and interpolated:
// a day's particles share a few geometries, and S(w) over the field costs about 10^5 operations.
class MeasuringArea {
 public:
  static constexpr double kStepMm = 0.01;

  explicit MeasuringArea(AreaRule rule) : rule_(rule) {}
  double m2(const FieldGeometry& g, const MeasuredParticle& p);

 private:
  double share_at(int k);

  AreaRule rule_;
  FieldGeometry g_;
  std::vector<double> share_;  // S(k kStepMm); negative: not computed yet
};

}  // namespace quorda::products
