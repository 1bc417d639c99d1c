// Piece assignment: the runs of one decoded block into pieces, one per particle and camera.
#pragma once

#include "common/line_record.h"
#include "common/piece.h"

namespace quorda {

struct RunContext;

// Returns the number of pieces opened (discarded ones included).
// REQUIRES: the camera's assign queue is empty.
int assign_pieces(RunContext& ctx, const LineBlock& block, CamQueues& q);

}  // namespace quorda
