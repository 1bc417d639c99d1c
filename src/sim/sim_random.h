// SimRandom: the simulator's own pseudo-random generator (xoshiro256** seeded through splitmix64).
//
// The simulated days must be the same on every machine and library for a given seed, so the
// sampling routines are written out here instead of taken from <random>, whose distributions may
// differ between standard libraries. Not thread-safe; one generator per simulated day.
#pragma once

#include <cmath>
#include <cstdint>

namespace quorda::sim {

class SimRandom {
 public:
  explicit SimRandom(uint64_t seed) {
    uint64_t x = seed;
    for (uint64_t& w : s_) w = splitmix(x);
  }

  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Uniform in the open interval (0, 1).
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Exponential with mean 1.
  double exponential() { return -std::log(uniform()); }
  // Standard normal (Box-Muller; the second value is dropped so the stream stays simple).
  double normal() {
    const double r = std::sqrt(-2.0 * std::log(uniform()));
    return r * std::cos(6.283185307179586 * uniform());
  }
  // Integer in [lo, hi].
  int64_t integer(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1));
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t s_[4];
};

}  // namespace quorda::sim
