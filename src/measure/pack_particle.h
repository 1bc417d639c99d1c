// Record packing: a matched pair into a particle record (30-byte head and packed outline words).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/particle_record.h"
#include "match/piece.h"
#include "measure/measure_drop.h"
#include "measure/measure_run.h"

namespace quorda {

// Measures the pair, writes its line to "res" and packs its record. Returns true and fills head
// (30 bytes, `len_prev` the length of the record before it in the stream) and outline (at least
// kMaxOutlineWords words) when the record was built; false when it was refused. Pieces of more
// lines than a record can hold end the run.
bool pack_particle(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, int16_t len_prev,
                   uint16_t* outline, uint8_t* head);

// The same without a message and without "res", on a thread other than the writer's: true when
// pack_particle would build the record without a message; head and outline are then what it
// would give, save the length of the record before (left 0), and the pair's line of "res" is in
// res_text (res_len bytes; room for kResLineMax). False when the writer must pack the pair itself.
bool pack_particle_quietly(QuietMeasure& ctx, const Piece& drop_a, const Piece& drop_b, uint16_t* outline,
                           uint8_t* head, char* res_text, size_t& res_len);

}  // namespace quorda
