// Pair transform: a matched pair into a particle record (30-byte head and packed outline words).
#pragma once

#include <cstdint>

#include "format/particle_record.h"
#include "match/piece.h"
#include "measure/measure_run.h"

namespace quorda {

// Returns 1 and fills head (30 bytes) and outline (at least kMaxOutlineWords words) when the
// record was built; 0 when it was refused.
int pack_particle(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, uint16_t* outline,
                  uint8_t* head);

}  // namespace quorda
