// The diameter classes of the drop size distribution: contiguous bins [edge_i, edge_i+1) in mm.
#pragma once

#include <vector>

namespace quorda::products {

class DiameterBins {
 public:
  // Bins from `min_mm` up to `max_mm` whose inner edges are the multiples of `width` mm (the first
  // and the last bin may be narrower).
  // REQUIRES: width > 0, 0 <= min_mm < max_mm.
  static DiameterBins uniform(double width, double max_mm, double min_mm = 0);

  int count() const { return static_cast<int>(edges_.size()) - 1; }
  double lower(int i) const { return edges_[i]; }
  double upper(int i) const { return edges_[i + 1]; }
  double centre(int i) const { return 0.5 * (edges_[i] + edges_[i + 1]); }
  double width(int i) const { return edges_[i + 1] - edges_[i]; }
  // The bin holding d, or -1 when d lies outside all bins.
  int index(double d_mm) const;

 private:
  std::vector<double> edges_;
};

}  // namespace quorda::products
