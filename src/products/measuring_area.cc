// Effective measuring area of a particle.
#include "products/measuring_area.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quorda::products {
namespace {

constexpr int kMaxWidthDiff = 5;  // pixels
constexpr float kMaxRatio = 1.5f;
constexpr float kMinRatio = 2.0f / 3.0f;
constexpr int kCells = 256;  // cells of the field along each line for S(w)

// The share of the cell [lo, lo + width) that lies inside (from, to).
double inside(double lo, double width, double from, double to) {
  const double a = std::max(lo, from);
  const double b = std::min(lo + width, to);
  return b > a ? (b - a) / width : 0.0;
}

}  // namespace

double pixel_width_a_at(const FieldGeometry& g, double cb) {
  if (!(g.distance_a_mm > 0)) return g.pixel_a_mm;
  return (g.pixel_b_mm * cb + g.distance_a_mm) * g.pixel_a_mm / g.distance_a_mm;
}

double pixel_width_b_at(const FieldGeometry& g, double ca) {
  if (!(g.distance_b_mm > 0)) return g.pixel_b_mm;
  return (g.distance_b_mm - g.pixel_a_mm * ca) * g.pixel_b_mm / g.distance_b_mm;
}

bool widths_pair(int wa, int wb) {
  if (wa == 0 || wb == 0) return false;
  if (std::abs(wa - wb) > kMaxWidthDiff) return false;
  const float ratio = static_cast<float>(wa) / static_cast<float>(wb);
  return ratio <= kMaxRatio && ratio >= kMinRatio;
}

double paired_share(const FieldGeometry& g, double width_mm) {
  if (g.pixels <= 0 || !(g.pixel_a_mm > 0) || !(g.pixel_b_mm > 0) || !(width_mm > 0)) return 0;
  const double c = g.pixels / 2.0;
  const double cell = static_cast<double>(g.pixels) / kCells;
  // Per cell i along either line: the shadow width of A at B offset i and of B at A offset i
  // (pixels), and the offsets between which a drop's centre must lie for that shadow to stay off
  // the end pixels of the live part of its line.
  double len_a[kCells], len_b[kCells], from_a[kCells], to_a[kCells], from_b[kCells], to_b[kCells];
  for (int i = 0; i < kCells; ++i) {
    const double u = -c + (i + 0.5) * cell;
    len_a[i] = width_mm / pixel_width_a_at(g, u);
    len_b[i] = width_mm / pixel_width_b_at(g, u);
    from_a[i] = g.first[0] - c + 0.5 + len_a[i] / 2;
    to_a[i] = g.end[0] - c - 0.5 - len_a[i] / 2;
    from_b[i] = g.first[1] - c + 0.5 + len_b[i] / 2;
    to_b[i] = g.end[1] - c - 0.5 - len_b[i] / 2;
  }
  double sum = 0;
  for (int i = 0; i < kCells; ++i) {  // B offset: sets A's shadow width
    const double fa = std::floor(len_a[i]);
    const double ra = len_a[i] - fa;
    const double row_lo = -c + i * cell;
    for (int k = 0; k < kCells; ++k) {  // A offset: sets B's shadow width
      const double whole =
          inside(-c + k * cell, cell, from_a[i], to_a[i]) * inside(row_lo, cell, from_b[k], to_b[k]);
      if (whole == 0) continue;
      const double fb = std::floor(len_b[k]);
      const double rb = len_b[k] - fb;
      const int wa = static_cast<int>(fa);
      const int wb = static_cast<int>(fb);
      const double pass = (1 - ra) * (1 - rb) * widths_pair(wa, wb) +
                          (1 - ra) * rb * widths_pair(wa, wb + 1) + ra * (1 - rb) * widths_pair(wa + 1, wb) +
                          ra * rb * widths_pair(wa + 1, wb + 1);
      sum += whole * pass;
    }
  }
  return sum / (static_cast<double>(kCells) * kCells);
}

double effective_area_m2(const FieldGeometry& g, const MeasuredParticle& p, AreaRule rule) {
  double la = 0, lb = 0;
  switch (rule) {
    case AreaRule::kDiameter:
      la = g.live(0) * g.pixel_a_mm - p.d_mm;
      lb = g.live(1) * g.pixel_b_mm - p.d_mm;
      break;
    case AreaRule::kShadow:
      la = g.live(0) * g.pixel_a_mm - g.pixel_a_mm - p.width_a_mm;
      lb = g.live(1) * g.pixel_b_mm - g.pixel_b_mm - p.width_b_mm;
      break;
    case AreaRule::kPaired:
      return g.width_a_mm() * g.width_b_mm() * paired_share(g, (p.width_a_mm + p.width_b_mm) / 2) * 1e-6;
  }
  if (la <= 0 || lb <= 0) return 0;
  return la * lb * 1e-6;
}

double MeasuringArea::m2(const FieldGeometry& g, const MeasuredParticle& p) {
  if (rule_ != AreaRule::kPaired) return effective_area_m2(g, p, rule_);
  if (!(g == g_)) {
    g_ = g;
    share_.clear();
  }
  const double w = (p.width_a_mm + p.width_b_mm) / 2;
  if (!(w >= 0 && w < std::min(g.width_a_mm(), g.width_b_mm()))) return 0;  // wider than the field
  const double x = w / kStepMm;
  const int k = static_cast<int>(x);
  const double f = x - k;
  const double s = (1 - f) * share_at(k) + f * share_at(k + 1);
  return g.width_a_mm() * g.width_b_mm() * s * 1e-6;
}

double MeasuringArea::share_at(int k) {
  if (static_cast<size_t>(k) >= share_.size()) share_.resize(static_cast<size_t>(k) + 1, -1.0);
  double& s = share_[static_cast<size_t>(k)];
  if (s < 0) s = paired_share(g_, k * kStepMm);
  return s;
}

}  // namespace quorda::products
