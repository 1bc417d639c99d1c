// The diameter classes of the drop size distribution.
#include "products/diameter_bins.h"

#include <algorithm>
#include <cmath>

namespace quorda::products {

DiameterBins DiameterBins::uniform(double width, double max_mm) {
  DiameterBins b;
  const int n = static_cast<int>(std::ceil(max_mm / width - 1e-9));
  for (int i = 0; i < n; ++i) b.edges_.push_back(i * width);
  b.edges_.push_back(max_mm);
  return b;
}

int DiameterBins::index(double d_mm) const {
  if (!(d_mm >= edges_.front() && d_mm < edges_.back())) return -1;
  const auto it = std::upper_bound(edges_.begin(), edges_.end(), d_mm);
  return static_cast<int>(it - edges_.begin()) - 1;
}

}  // namespace quorda::products
