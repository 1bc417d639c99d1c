// Terminal fall speed of a raindrop in still air at sea level, the exponential fit to laboratory
// fall speeds of water drops:
//
//   v_t(D) = 9.65 - 10.3 exp(-0.6 D)      D: equivalent diameter in mm, v_t in m/s.
//
// The fit is positive from D = 0.109 mm on and tends to 9.65 m/s for large drops. The quality
// filter of the rain products compares every particle's measured fall speed with it.
#pragma once

#include <cmath>

namespace quorda::products {

inline double terminal_speed(double d_mm) {
  return 9.65 - 10.3 * std::exp(-0.6 * d_mm);
}

}  // namespace quorda::products
