// Pair transform: a matched pair into a particle record (30-byte head and packed outline words).
#pragma once

#include <cstdint>

#include "common/piece.h"

namespace quorda {

struct RunContext;

// Particle record head, offsets in the 30-byte head.
namespace pixhead {
inline constexpr size_t kLenBits = 0;
inline constexpr size_t kLenPrev = 2;
inline constexpr size_t kT1 = 4;
inline constexpr size_t kEqDiam = 12;
inline constexpr size_t kLineNo = 14;
inline constexpr size_t kLineNoDiff = 16;
inline constexpr size_t kDiffLins = 18;
inline constexpr size_t kXMinA = 20;
inline constexpr size_t kXMinB = 22;
inline constexpr size_t kVel = 24;
inline constexpr size_t kScaleA = 26;
inline constexpr size_t kScaleB = 28;
}  // namespace pixhead

// Returns 1 and fills head (30 bytes) and outline (at least kMaxOutlineWords words) when the
// record was built; 0 when it was refused.
int transf_1(RunContext& ctx, const Piece& drop_a, const Piece& drop_b, uint16_t* outline, uint8_t* head);

}  // namespace quorda
