// Rain physics of the simulator: drop size distribution set by a rain rate, fall speed and shape.
//
// Sizes: an exponential distribution N(D) = N0 exp(-Lambda D) with N0 = 8000 m^-3 mm^-1 and
// Lambda = 4.1 R^-0.21 mm^-1 (R in mm/h), or a gamma distribution
// N(D) = Ng D^mu exp(-Lg D) with the same median volume diameter (Lg = Lambda (3.67 + mu) / 3.67)
// and the same liquid water content. The drops that cross the measuring area are the
// concentration weighted by the fall speed; DropSizeSampler tabulates that flux once and draws
// diameters from it by inverting the table.
#pragma once

#include <vector>

namespace quorda::sim {

// Terminal fall speed (m/s) of a drop of equivalent diameter d (mm): 9.65 - 10.3 exp(-0.6 d),
// floored at 0.1 m/s for the smallest sizes where the fit turns negative.
double fall_speed(double d_mm);

// Axis ratio (vertical over horizontal) of an equilibrium drop of diameter d (mm): the fourth
// degree polynomial in the diameter fitted to computed equilibrium shapes, capped at 1 for the
// smallest drops.
double axis_ratio(double d_mm);

enum class SizeLaw { kExponential, kGamma };

struct RainSpec {
  double rate_mm_h = 5.0;
  SizeLaw law = SizeLaw::kExponential;
  double mu = 2.0;     // gamma shape
  double d_min = 0.3;  // mm
  double d_max = 8.0;  // mm
};

// Drop concentration density N(D) in m^-3 mm^-1.
double concentration(const RainSpec& rain, double d_mm);

class DropSizeSampler {
 public:
  // area_m2: horizontal measuring area the drops cross.
  DropSizeSampler(const RainSpec& rain, double area_m2);
  // Mean number of drops per second crossing the area.
  double rate() const { return rate_; }
  // A diameter (mm) for u uniform in (0, 1).
  double diameter(double u) const;

 private:
  double d0_ = 0, step_ = 0, rate_ = 0;
  std::vector<double> cdf_;  // cumulative flux at d0 + i * step, normalised to 1
};

}  // namespace quorda::sim
