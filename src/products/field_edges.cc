// The live part of each camera's line, found in the data.
#include "products/field_edges.h"

#include <algorithm>
#include <climits>

namespace quorda::products {

FieldEdgeFinder::Reach::Reach() {
  for (int c = 0; c < 2; ++c) {
    lo[c].fill(INT_MAX);
    hi[c].fill(INT_MIN);
  }
}

void FieldEdgeFinder::Reach::add(const MeasuredParticle& p) {
  ++n;
  for (int c = 0; c < 2; ++c) {
    // Keep the kReached lowest starts and highest ends, in order.
    int v = p.reach_lo[c];
    for (int& x : lo[c])
      if (v < x) std::swap(v, x);
    v = p.reach_hi[c];
    for (int& x : hi[c])
      if (v > x) std::swap(v, x);
  }
}

void FieldEdgeFinder::add(int period, const MeasuredParticle& p) {
  if (period >= 0 && static_cast<size_t>(period) < periods_.size())
    periods_[static_cast<size_t>(period)].add(p);
  all_.add(p);
}

void FieldEdgeFinder::apply(int period, const EdgeOverride& user, FieldGeometry* g) const {
  const int top = g->pixels;
  if (user.set()) {
    for (int c = 0; c < 2; ++c) {
      g->first[c] = std::clamp(user.first[c], 0, top - 1);
      g->end[c] = std::clamp(user.last[c] + 1, g->first[c] + 1, top);
    }
    return;
  }
  const Reach* r = &all_;
  if (period >= 0 && static_cast<size_t>(period) < periods_.size() &&
      periods_[static_cast<size_t>(period)].n >= kMinParticles)
    r = &periods_[static_cast<size_t>(period)];
  for (int c = 0; c < 2; ++c) {
    const int lo = r->lo[c].back(), hi = r->hi[c].back();
    g->first[c] = 0;
    g->end[c] = top;
    if (r->n < kMinDay || hi - lo < 2) continue;  // too few particles
    g->first[c] = std::clamp(lo, 0, top - 1);
    g->end[c] = std::clamp(hi, g->first[c] + 1, top);
  }
}

std::string describe_edges(const FieldGeometry& g) {
  return "camera A " + std::to_string(g.first[0]) + ".." + std::to_string(g.end[0] - 1) + ", camera B " +
         std::to_string(g.first[1]) + ".." + std::to_string(g.end[1] - 1);
}

}  // namespace quorda::products
