// The live part of each camera's line, found in the data.
//
// Drops fall across the whole field and beyond it, so the outermost pixels particles reach are the
// ends of the part of a line that can shadow at all: pixel 0 and 2 * centre_pix - 1 on an
// instrument whose end pixels work, pixels further in where end pixels are masked, dead or cut off.
// Per main header period and camera, the edge on each side is the outermost pixel that at least
// kReached particles reach (the kReached-th lowest run start and highest run end), so that a few
// particles of a noisy pixel do not move it. A period with fewer than kMinParticles particles
// takes the edges of all periods together; a day of fewer than kMinDay particles keeps the
// header's pixel range (too few to tell where the field ends). A particle that reaches an edge was cut by it
// (particle_filter.h), and the measuring area is that of the live part (measuring_area.h). The user may set
// the edges instead.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "products/measured_particle.h"

namespace quorda::products {

// Edges the user sets: the first and the last live pixel of camera A and of camera B; -1: found
// in the data.
struct EdgeOverride {
  int first[2] = {-1, -1};
  int last[2] = {-1, -1};
  bool set() const { return first[0] >= 0; }
};

class FieldEdgeFinder {
 public:
  static constexpr int kReached = 3;
  static constexpr int64_t kMinParticles = 20000;
  static constexpr int64_t kMinDay = 200;

  explicit FieldEdgeFinder(int periods) : periods_(static_cast<size_t>(periods)) {}

  // A measured particle of header period `period` (reach_lo, reach_hi filled in).
  void add(int period, const MeasuredParticle& p);
  // Sets g->first and g->end of header period `period` from the data or from `user`.
  void apply(int period, const EdgeOverride& user, FieldGeometry* g) const;

 private:
  struct Reach {
    int64_t n = 0;
    std::array<int, kReached> lo[2];  // lowest starts per camera, ascending
    std::array<int, kReached> hi[2];  // highest ends per camera, descending
    Reach();
    void add(const MeasuredParticle& p);
  };
  std::vector<Reach> periods_;
  Reach all_;
};

// "camera A 1..630, camera B 0..631" for the live parts of g.
std::string describe_edges(const FieldGeometry& g);

}  // namespace quorda::products
