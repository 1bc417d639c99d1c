// The rain products of one time interval.
#include "products/interval_products.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorda::products {

void IntervalSums::add(double d_mm, double v_m_s, double area_m2, const DiameterBins& bins,
                       double spread_mm) {
  const double per_m3 = 1.0 / (area_m2 * v_m_s);
  const double d3 = d_mm * d_mm * d_mm;
  m3_ += d3 * per_m3;
  m4_ += d3 * d_mm * per_m3;
  m6_ += d3 * d3 * per_m3;
  d3_over_a_ += d3 / area_m2;
  const double w2 = per_m3 * per_m3;
  if (d_mm >= bins.lower(0)) {
    m0_ += per_m3;
    q0_ += w2;
  }
  q6_ += w2 * d3 * d3;
  q7_ += w2 * d3 * d3 * d_mm;
  q8_ += w2 * d3 * d3 * d_mm * d_mm;
  q12_ += w2 * d3 * d3 * d3 * d3;
  qr_ += d3 * d3 / (area_m2 * area_m2);
  const int bin = bins.index(d_mm);
  if (bin >= 0) ++bin_count_[bin];
  if (!(spread_mm > 0)) {
    if (bin >= 0) {
      bin_sum_[bin] += per_m3;
      bin_sq_[bin] += w2;
    }
    return;
  }
  const double lo = d_mm - 0.5 * spread_mm, hi = d_mm + 0.5 * spread_mm;
  const int first = std::max(0, bins.index(std::max(lo, bins.lower(0))));
  for (int i = first; i < bins.count() && bins.lower(i) < hi; ++i) {
    const double share = (std::min(hi, bins.upper(i)) - std::max(lo, bins.lower(i))) / spread_mm;
    if (!(share > 0)) continue;
    bin_sum_[i] += per_m3 * share;
    bin_sq_[i] += w2 * share * share;
  }
}

double IntervalSums::square(int k) const {
  switch (k) {
    case -1:
      return qr_;
    case 0:
      return q0_;
    case 6:
      return q6_;
    case 7:
      return q7_;
    case 8:
      return q8_;
    case 12:
      return q12_;
    default:
      return NAN;
  }
}

double IntervalSums::moment(int k) const {
  switch (k) {
    case 0:
      return m0_;
    case 3:
      return m3_;
    case 4:
      return m4_;
    case 6:
      return m6_;
    default:
      return NAN;
  }
}

IntervalProducts interval_products(const IntervalSums& sums, double dt, const DiameterBins& bins, double d0) {
  constexpr double kPi = std::numbers::pi;
  IntervalProducts p;
  p.nd.resize(bins.count());
  for (int i = 0; i < bins.count(); ++i) p.nd[i] = sums.bin_sum()[i] / (dt * bins.width(i));
  const double m3 = sums.moment(3) / dt;
  p.nt = sums.moment(0) / dt;
  p.rain_rate = 6.0 * kPi * 1e-4 * sums.volume_sum() / dt;
  p.lwc = kPi / 6.0 * 1e-3 * m3;
  p.z = sums.moment(6) / dt;
  p.dbz = p.z > 0 ? 10.0 * std::log10(p.z) : NAN;
  p.dm = m3 > 0 ? sums.moment(4) / sums.moment(3) : NAN;
  p.d0 = d0;
  p.nw = m3 > 0 ? 256.0 / 6.0 * m3 / std::pow(p.dm, 4) : NAN;
  p.amount = p.rain_rate * dt / 3600.0;
  p.nd_se.resize(bins.count());
  for (int i = 0; i < bins.count(); ++i) p.nd_se[i] = std::sqrt(sums.bin_square()[i]) / (dt * bins.width(i));
  p.nt_se = std::sqrt(sums.square(0)) / dt;
  p.rain_rate_se = 6.0 * kPi * 1e-4 * std::sqrt(sums.square(-1)) / dt;
  p.z_se = std::sqrt(sums.square(6 + 6)) / dt;
  p.dbz_se = p.z > 0 ? 10.0 / std::numbers::ln10 * p.z_se / p.z : NAN;
  p.dm_se = m3 > 0 ? std::sqrt(std::max(
                         0.0, sums.square(8) - 2 * p.dm * sums.square(7) + p.dm * p.dm * sums.square(6))) /
                         sums.moment(3)
                   : NAN;
  return p;
}

double median_volume_diameter(std::vector<WeightedDrop>& drops) {
  double total = 0;
  for (const WeightedDrop& d : drops) total += d.weight;
  if (drops.empty() || !(total > 0)) return NAN;
  std::sort(drops.begin(), drops.end(),
            [](const WeightedDrop& a, const WeightedDrop& b) { return a.d_mm < b.d_mm; });
  const double half = 0.5 * total;
  double before = 0;  // weight of the drops below the current one
  double prev_d = drops.front().d_mm, prev_c = 0.5 * drops.front().weight;
  if (half <= prev_c) return prev_d;
  for (const WeightedDrop& d : drops) {
    const double c = before + 0.5 * d.weight;  // cumulative weight at this drop's mid-point
    if (c >= half) {
      return c > prev_c ? prev_d + (d.d_mm - prev_d) * (half - prev_c) / (c - prev_c) : d.d_mm;
    }
    before += d.weight;
    prev_d = d.d_mm;
    prev_c = c;
  }
  return drops.back().d_mm;
}

}  // namespace quorda::products
