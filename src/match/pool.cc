// The piece pool and the per-camera queues.
#include "match/pool.h"

#include "frame/run_context.h"

namespace quorda {

void init_pool(Pool& pool) {
  for (int i = 0; i < POOL_SIZE; ++i) {
    pool.slots[i] = Piece{};
    pool.slots[i].runs = pool.run_store[i];
  }
  pool.pool_next = 0;
}

}  // namespace quorda
