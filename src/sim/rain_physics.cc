// Rain physics of the simulator: size distributions, fall speed, drop shape.
#include "sim/rain_physics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quorda::sim {
namespace {

constexpr double kMpN0 = 8000.0;  // m^-3 mm^-1
constexpr int kTableSteps = 4000;

double mp_lambda(double rate_mm_h) {
  return 4.1 * std::pow(std::max(rate_mm_h, 1e-3), -0.21);
}

}  // namespace

double fall_speed(double d_mm) {
  return std::max(0.1, 9.65 - 10.3 * std::exp(-0.6 * d_mm));
}

double axis_ratio(double d_mm) {
  const double d = d_mm;
  const double r = 1.0048 + 5.7e-4 * d - 2.628e-2 * d * d + 3.682e-3 * d * d * d - 1.677e-4 * d * d * d * d;
  return std::min(1.0, r);
}

double concentration(const RainSpec& rain, double d_mm) {
  const double lambda = mp_lambda(rain.rate_mm_h);
  if (rain.law == SizeLaw::kExponential) return kMpN0 * std::exp(-lambda * d_mm);
  // Same median volume diameter and liquid water content as the exponential law.
  const double mu = rain.mu;
  const double lg = lambda * (3.67 + mu) / 3.67;
  const double ng = kMpN0 * 6.0 / std::pow(lambda, 4.0) * std::pow(lg, mu + 4.0) / std::tgamma(mu + 4.0);
  return ng * std::pow(d_mm, mu) * std::exp(-lg * d_mm);
}

DropSizeSampler::DropSizeSampler(const RainSpec& rain, double area_m2) {
  d0_ = rain.d_min;
  step_ = (rain.d_max - rain.d_min) / kTableSteps;
  cdf_.assign(kTableSteps + 1, 0.0);
  double sum = 0;
  auto flux = [&](double d) { return concentration(rain, d) * fall_speed(d); };
  for (int i = 1; i <= kTableSteps; ++i) {
    const double a = d0_ + (i - 1) * step_;
    sum += 0.5 * (flux(a) + flux(a + step_)) * step_;  // trapezoid, drops m^-2 s^-1
    cdf_[i] = sum;
  }
  rate_ = sum * area_m2;
  if (sum > 0)
    for (double& c : cdf_) c /= sum;
}

double DropSizeSampler::diameter(double u) const {
  const auto it = std::lower_bound(cdf_.begin() + 1, cdf_.end(), u);
  const size_t i = static_cast<size_t>(std::min<std::ptrdiff_t>(it - cdf_.begin(), kTableSteps));
  const double lo = cdf_[i - 1], hi = cdf_[i];
  const double f = hi > lo ? (u - lo) / (hi - lo) : 0.5;
  return d0_ + (static_cast<double>(i - 1) + f) * step_;
}

}  // namespace quorda::sim
