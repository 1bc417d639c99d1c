// Effective measuring area of a particle.
#include "products/measuring_area.h"

namespace quorda::products {

double effective_area_m2(const FieldGeometry& g, const MeasuredParticle& p, AreaRule rule) {
  double la = 0, lb = 0;
  if (rule == AreaRule::kDiameter) {
    la = g.width_a_mm() - p.d_mm;
    lb = g.width_b_mm() - p.d_mm;
  } else {
    la = g.width_a_mm() - g.pixel_a_mm - p.width_a_mm;
    lb = g.width_b_mm() - g.pixel_b_mm - p.width_b_mm;
  }
  if (la <= 0 || lb <= 0) return 0;
  return la * lb * 1e-6;
}

}  // namespace quorda::products
