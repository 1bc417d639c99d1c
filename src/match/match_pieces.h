// A/B matching: pairs waiting A pieces with the B piece of the same particle and hands each pair
// to the writer.
#pragma once

#include <cstdint>

#include "match/match_run.h"
#include "match/piece.h"

namespace quorda {

// newest_a is the y_count of the last line of the last decoded camera A block.
void match_pieces(const MatchRun& ctx, int32_t* total, double newest_a);
// Whether b can be the partner of a: similar widths, and b later than a on the whole.
bool pieces_match(const MatchRun& ctx, const Piece& a, const Piece& b);
// Whether the pair of a keeps the order of the A pieces written so far (then a becomes the last);
// a pair out of order is reported with one "C" on the error stream.
bool chrono_write_check(const MatchRun& ctx, const Piece& a);

}  // namespace quorda
