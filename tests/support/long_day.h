// Test support: a raw day long enough that a run is still going when a test reacts to its first
// summary on the console: kLongDayParticles particles, 700 lines apart. (A fifth as many was
// once enough; a faster converter got through them before a key typed under Wine arrived.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/main_header.h"
#include "support/raw_day.h"

namespace quorda::testing {

inline constexpr int kLongDayParticles = 200000;

// Fewer "res" lines than this: the run ended before the day was through.
inline constexpr size_t kLongDayCutShort = kLongDayParticles - 1000;

// A day long enough that the run is still going when the test reacts to the first summary.
inline std::vector<uint8_t> long_day() {
  RawDayBuilder b(3000);
  RawMainHeader h;
  h.line_fr = 20000;
  h.centre_pix = 256;
  h.l0_1 = h.l0_2 = 250;
  h.valid_since = 86400u * 14690u;
  b.header(0, h);
  for (int i = 0; i < kLongDayParticles; ++i) {
    double y = 2000.0 + 700.0 * i;
    int16_t x = static_cast<int16_t>(50 + (i * 37) % 400);
    b.particle(TestParticle{y, x, 12, 8, y + 25, x, 12, 8});
  }
  return b.build();
}

}  // namespace quorda::testing
