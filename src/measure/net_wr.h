// The hydrometeor output writer: particle records into the buffer, saves into the output set.
#pragma once

#include "common/piece.h"

namespace quorda {

struct RunContext;

// With a pair: transform, drop-or-append, per-minute index. Without (both null): a save request.
void net_wr(RunContext& ctx, const Piece* drop_a, const Piece* drop_b);

}  // namespace quorda
