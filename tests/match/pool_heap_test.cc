// The pool and piece assignment make no heap allocation: the count of operator new calls of the
// test program (heap_counter.h) must not move across thousands of piece cycles.
#include <gtest/gtest.h>

#include <vector>

#include "match/assign_pieces.h"
#include "match/heap_counter.h"
#include "match/pool.h"
#include "match/queue_helpers.h"

namespace quorda {
namespace {

using testing::add_piece;
using testing::heap_allocations;
using testing::MatchParts;

TEST(PoolHeap, PieceCyclesMakeNoHeapAllocation) {
  MatchParts t;
  MatchParts& c = t;

  // A block of three particles side by side over 40 lines, and one that stays a single line.
  std::vector<LineRecord> lines(40);
  for (int i = 0; i < 40; ++i) {
    LineRecord& r = lines[i];
    r.y_count = 5000 + i;
    r.n_runs = i == 0 ? 4 : 3;
    r.runs[0] = {10, 20};
    r.runs[1] = {100, 104};
    r.runs[2] = {300, 330};
    if (i == 0) r.runs[3] = {500, 501};
  }
  LineBlock block{40, lines.data()};

  const long before = heap_allocations();
  long pieces_kept = 0;
  for (int cycle = 0; cycle < 3000; ++cycle) {
    CamQueues& q = cycle % 2 == 0 ? c.queues_a : c.queues_b;
    Piece* single = add_piece(c, 1, 2, cycle, q);
    unlink_assign(c.pool, c.diag, single, q);
    assign_pieces(c.run(), block, q);
    chain_queues(c.pool, c.diag, q);
    // Waiting pieces pile up to a few hundred before they are cleared, so the slots in use wander
    // round the pool.
    for (Piece* p = q.wait_head; p != nullptr; p = p->next) ++pieces_kept;
    if (cycle % 100 == 99) {
      free_wait_queue(c.pool, c.diag, c.queues_a);
      free_wait_queue(c.pool, c.diag, c.queues_b);
    }
  }
  const long after = heap_allocations();
  EXPECT_EQ(after - before, 0);
  EXPECT_GT(pieces_kept, 3000);
  EXPECT_EQ(t.err(), "");

  // The counter does see allocations.
  auto* probe = new std::vector<int>(3);
  EXPECT_GT(heap_allocations(), after);
  delete probe;
}

}  // namespace
}  // namespace quorda
