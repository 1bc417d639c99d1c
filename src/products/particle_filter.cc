// The quality filter of the rain products.
#include "products/particle_filter.h"

#include <cmath>

#include "products/terminal_speed.h"

namespace quorda::products {

Verdict classify(const MeasuredParticle& p, const FilterSettings& f) {
  if (p.edge) return Verdict::kEdge;
  if (!(p.d_mm >= f.d_min_mm && p.d_mm <= f.d_max_mm)) return Verdict::kSize;
  const double vt = terminal_speed(p.d_mm);
  if (!(p.v_m_s > 0)) return Verdict::kSpeed;  // a drop stands for 1 / (A v) drops per m^3: v > 0
  if (!(std::fabs(p.v_m_s - vt) <= f.speed_tolerance * vt)) return Verdict::kSpeed;
  return Verdict::kUsed;
}

}  // namespace quorda::products
