// State of the drop-matching subsystem: the piece pool, the queues of both cameras and the matcher's
// chronology mark.
#pragma once

#include <cstdint>

#include "base/constants.h"
#include "match/piece.h"

namespace quorda {

// The fixed pool of pieces. Every slot owns room for MAXLIN runs, so the pool makes no heap
// allocation at all.
struct Pool {
  Piece slots[POOL_SIZE];
  Run run_store[POOL_SIZE][MAXLIN];
  int16_t pool_next = 0;  // rotating search cursor
};

struct Matcher {
  double last_match_line = 0;  // first_line of the A piece of the last pair written
};

}  // namespace quorda
