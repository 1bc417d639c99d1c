// Record packing: a matched pair into a particle record (30-byte head and packed outline words).
#pragma once

#include <cstdint>

#include "format/particle_record.h"
#include "match/piece.h"
#include "measure/measure_run.h"

namespace quorda {

// Measures the pair, writes its line to "res" and packs its record. Returns true and fills head
// (30 bytes, `len_prev` the length of the record before it in the stream) and outline (at least
// kMaxOutlineWords words) when the record was built; false when it was refused. Pieces of more
// lines than a record can hold end the run.
bool pack_particle(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, int16_t len_prev,
                   uint16_t* outline, uint8_t* head);

}  // namespace quorda
