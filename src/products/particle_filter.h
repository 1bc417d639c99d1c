// The quality filter of the rain products: which measured particles count as raindrops.
//
// A particle is not used, and is counted under the first reason that applies, when
//   1. its outline reaches the first or last pixel of either camera's line: the edge of the field
//      cut it, so its size and its place are unknown (kEdge);
//   2. its equivalent diameter lies outside [d_min, d_max] (default 0.1 to 10 mm) (kSize);
//   3. its fall speed v differs from the terminal speed v_t(D) of a raindrop of its diameter by
//      more than speed_tolerance * v_t(D) (default 0.5), or is not above 0: a mismatched pair of
//      pieces, or not rain (kSpeed);
//   4. its effective measuring area (measuring_area.h) is not positive: it is as wide as the field
//      (kEdge as well).
#pragma once

#include "products/measured_particle.h"

namespace quorda::products {

struct FilterSettings {
  double speed_tolerance = 0.5;  // largest |v - v_t(D)| / v_t(D) of a used particle
  double d_min_mm = 0.1;
  double d_max_mm = 10.0;
};

enum class Verdict { kUsed, kEdge, kSize, kSpeed };

Verdict classify(const MeasuredParticle& p, const FilterSettings& f);

}  // namespace quorda::products
