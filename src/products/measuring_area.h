// Effective measuring area of a particle: the horizontal area (m^2) in which the particle's centre
// may lie for the particle to lie wholly inside both cameras' fields, so that the edge filter keeps
// it. A particle seen once in an interval of dt seconds thus stands for a flux of 1 / (A dt) drops
// per m^2 and second.
//
// Two rules, for field widths W_A = 2 centre_pix XSCALE0_1 and W_B = 2 centre_pix XSCALE0_2 (mm):
//
//   kDiameter: A = (W_A - D)(W_B - D) * 1e-6, with D the equivalent diameter (mm).
//   kShadow:   A = (W_A - p_A - w_A)(W_B - p_B - w_B) * 1e-6, with w_A, w_B the particle's largest
//              shadow widths along each camera's line and p_A, p_B the pixel widths (mm).
//
// kShadow is the default. The edge filter rejects a particle whose shadow covers pixel 0 or pixel
// N - 1 of a line of N pixels; a shadow of w pixels avoids both when its centre lies in a stretch of
// N - 1 - w pixels, not N - w. And drops wider than high (an equilibrium drop of 4 mm is about
// 4.4 mm wide) are cut sooner than their equivalent diameter says. The simulated days show the
// difference in the rain rate (docs/rain_products.md).
#pragma once

#include "products/measured_particle.h"

namespace quorda::products {

enum class AreaRule { kShadow, kDiameter };

// The area in m^2; zero or negative when the particle does not fit the field.
double effective_area_m2(const FieldGeometry& g, const MeasuredParticle& p, AreaRule rule);

}  // namespace quorda::products
