// The diameter classes of the drop size distribution.
#include "products/diameter_bins.h"

#include <algorithm>
#include <cmath>

namespace quorda::products {

DiameterBins DiameterBins::uniform(double width, double max_mm, double min_mm) {
  constexpr double kSlack = 1e-9;  // in widths: an edge this close to min or max is that edge
  DiameterBins b;
  b.edges_.push_back(min_mm);
  const int n = static_cast<int>(std::ceil(max_mm / width - kSlack));
  for (int i = static_cast<int>(std::floor(min_mm / width + kSlack)) + 1; i < n; ++i)
    b.edges_.push_back(i * width);
  b.edges_.push_back(max_mm);
  return b;
}

int DiameterBins::index(double d_mm) const {
  if (!(d_mm >= edges_.front() && d_mm < edges_.back())) return -1;
  const auto it = std::upper_bound(edges_.begin(), edges_.end(), d_mm);
  return static_cast<int>(it - edges_.begin()) - 1;
}

}  // namespace quorda::products
