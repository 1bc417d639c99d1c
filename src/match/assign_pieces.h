// Piece assignment: the runs of one decoded block into pieces, one per particle and camera.
#pragma once

#include "format/line_record.h"
#include "match/match_run.h"
#include "match/piece.h"

namespace quorda {

// Returns the number of pieces opened (discarded ones included).
// REQUIRES: the camera's assign queue is empty.
int assign_pieces(const MatchRun& ctx, const LineBlock& block, CamQueues& q);

}  // namespace quorda
