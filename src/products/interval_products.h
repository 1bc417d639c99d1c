// The rain products of one time interval, from the particles the filter kept.
//
// Every used particle j brings its equivalent diameter D_j (mm), its fall speed v_j (m/s) and its
// effective measuring area A_j (m^2). It crossed the area A_j during the interval of dt seconds, so
// it stands for 1 / (A_j v_j dt) drops per m^3 of air. With the moments
//
//   M_k = (1 / dt) sum_j D_j^k / (A_j v_j)          (mm^k m^-3)
//
// the products are:
//
//   N(D_i) = 1 / (dt dD_i) sum_{j in bin i} 1 / (A_j v_j)     drop size distribution, m^-3 mm^-1
//   N_t    = M_0 over the drops from the classes' lower edge on  number concentration, m^-3
//   R      = 6 pi 1e-4 / dt  sum_j D_j^3 / A_j                rain rate, mm h^-1
//            (pi/6 D^3 mm^3 of water per A m^2 = pi/6 D^3 1e-6 mm of depth; times 3600 s/h)
//   W      = pi/6 rho_w M_3 = pi/6 1e-3 M_3                   liquid water content, g m^-3
//            (rho_w = 1e-3 g mm^-3)
//   Z      = M_6                                              reflectivity factor, mm^6 m^-3
//   dBZ    = 10 log10(Z / 1 mm^6 m^-3)
//   D_m    = M_4 / M_3                                        mass-weighted mean diameter, mm
//   D_0    : half of W lies in drops smaller than D_0         median volume diameter, mm
//   N_w    = 4^4 / (pi rho_w) W / D_m^4 = (4^4 / 6) M_3 / D_m^4   normalized intercept, m^-3 mm^-1
//            (for N(D) = N_0 exp(-Lambda D) it equals N_0)
//   amount = sum over the intervals so far of R dt / 3600     rain amount, mm
//
// The integral quantities are summed over the particles themselves, not over the bins, so drops
// outside the bins still count in them. A drop's diameter is known only to within the step
// between the diameters its pixel counts allow: N(D) spreads each drop evenly over
// [D - s/2, D + s/2] (s: spread, see day_products.h) and gives each class its share. The classes
// and N_t begin at the smallest size the instrument counts reliably; the integral products of the
// water (R, W, Z, D_m, D_0, N_w) take every used drop, as the drops below it carry little water.
//
// Counting (sampling) error: drops arrive independently, so each sum S = sum_j x_j over the drops
// has the standard error sqrt(sum_j x_j^2). So N_t, R, Z and each N(D_i) get
// sqrt(sum w_j^2 x_j^2) with w_j = 1 / (A_j v_j dt) and x_j their drop's share; dBZ gets
// 10 / ln 10 * se(Z) / Z, and D_m = M_4 / M_3 the first-order error of the ratio,
// sqrt(sum w_j^2 (D_j^4 - D_m D_j^3)^2) / M_3. Quantities of an interval without drops that are ratios
// (dBZ, D_m, D_0, N_w) are NaN.
#pragma once

#include <cstdint>
#include <vector>

#include "products/diameter_bins.h"

namespace quorda::products {

// What happened to the particles of an interval.
struct ParticleCounts {
  int64_t seen = 0;   // particle records in the interval
  int64_t used = 0;   // kept by the filter
  int64_t edge = 0;   // cut by the edge of the field
  int64_t size = 0;   // diameter outside the size range
  int64_t speed = 0;  // fall speed too far from the terminal speed

  void add(const ParticleCounts& o) {
    seen += o.seen;
    used += o.used;
    edge += o.edge;
    size += o.size;
    speed += o.speed;
  }
};

// A used drop as the median volume diameter needs it.
struct WeightedDrop {
  double d_mm = 0;
  double weight = 0;  // D^3 / (A v): its share of the water content
};

// Sums over the used particles of one interval.
class IntervalSums {
 public:
  explicit IntervalSums(int bins = 0) : bin_sum_(bins, 0.0), bin_sq_(bins, 0.0), bin_count_(bins, 0) {}

  // REQUIRES: area_m2 > 0, v_m_s > 0, spread_mm >= 0; `bins` has as many bins as the sums.
  void add(double d_mm, double v_m_s, double area_m2, const DiameterBins& bins, double spread_mm = 0);

  double moment(int k) const;  // sum D^k / (A v) for k = 0, 3, 4 or 6
  double volume_sum() const { return d3_over_a_; }
  // sum D^k / (A v)^2 for k = 0, 6, 7, 8 or 12, and sum (D^3 / A)^2 (k = -1).
  double square(int k) const;
  const std::vector<double>& bin_sum() const { return bin_sum_; }
  const std::vector<double>& bin_square() const { return bin_sq_; }
  const std::vector<int64_t>& bin_count() const { return bin_count_; }

 private:
  double m0_ = 0, m3_ = 0, m4_ = 0, m6_ = 0, d3_over_a_ = 0;
  double q0_ = 0, q6_ = 0, q7_ = 0, q8_ = 0, q12_ = 0, qr_ = 0;
  std::vector<double> bin_sum_;     // sum 1 / (A v) per bin, each drop spread over its classes
  std::vector<double> bin_sq_;      // sum of the squares of those shares
  std::vector<int64_t> bin_count_;  // drops whose diameter lies in the bin
};

struct IntervalProducts {
  std::vector<double> nd;  // N(D_i), m^-3 mm^-1
  double nt = 0;           // m^-3
  double rain_rate = 0;    // mm h^-1
  double lwc = 0;          // g m^-3
  double z = 0;            // mm^6 m^-3
  double dbz = 0;
  double dm = 0;      // mm
  double d0 = 0;      // mm
  double nw = 0;      // m^-3 mm^-1
  double amount = 0;  // rain of this interval, mm
  // Counting standard errors.
  std::vector<double> nd_se;
  double nt_se = 0, rain_rate_se = 0, z_se = 0, dbz_se = 0, dm_se = 0;
};

// The products of an interval of dt seconds; d0 is the median volume diameter, computed apart.
// REQUIRES: dt > 0; sums has one entry per bin of `bins`.
IntervalProducts interval_products(const IntervalSums& sums, double dt, const DiameterBins& bins, double d0);

// The diameter below which half of the summed weight lies, drops taken as points at their diameter
// and the cumulative weight interpolated linearly between the drops' mid-points. NaN for no drops.
// Sorts `drops`.
double median_volume_diameter(std::vector<WeightedDrop>& drops);

}  // namespace quorda::products
