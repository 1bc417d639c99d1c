// A/B matching: pairs waiting A pieces with the B piece of the same particle and hands each pair
// to the writer.
#pragma once

#include <cstdint>

#include "match/match_run.h"
#include "match/piece.h"

namespace quorda {

// newest_a is the y_count of the last line of the last decoded camera A block.
void match_pieces(const MatchRun& ctx, int32_t* total, double newest_a);
int pieces_match(const MatchRun& ctx, const Piece& a, const Piece& b);
int chrono_write_check(const MatchRun& ctx, const Piece& a);

}  // namespace quorda
