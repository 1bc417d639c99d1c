// Drop evaluation: the measures of one matched pair and its line in the text file "res".
#pragma once

#include "common/piece.h"

namespace quorda {

struct RunContext;

void eval_dr(RunContext& ctx, const Piece& drop_a, const Piece& drop_b, float* eq_diam, float* scale_a,
             float* scale_b, float* vel);

}  // namespace quorda
