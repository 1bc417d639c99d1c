// Test helpers for the piece queues: walk a queue checking its links, and build queues quickly.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "app/run_context.h"
#include "match/piece.h"
#include "match/pool.h"

namespace quorda::testing {

// The pieces of the queue head..tail from the tail (oldest) to the head. Fails the test when the
// links do not agree in both directions.
inline std::vector<Piece*> queue_from_tail(Piece* head, Piece* tail) {
  std::vector<Piece*> out;
  if (head == nullptr || tail == nullptr) {
    EXPECT_EQ(head, tail) << "an empty queue has head and tail null";
    return out;
  }
  EXPECT_EQ(head->prev, nullptr);
  EXPECT_EQ(tail->next, nullptr);
  for (Piece* p = tail; p != nullptr; p = p->prev) {
    if (p->prev != nullptr) {
      EXPECT_EQ(p->prev->next, p);
    }
    out.push_back(p);
    if (out.size() > POOL_SIZE) {
      ADD_FAILURE() << "queue longer than the pool: the links run in a circle";
      break;
    }
  }
  EXPECT_EQ(out.back(), head);
  return out;
}

inline std::vector<Piece*> assign_queue(const CamQueues& q) {
  return queue_from_tail(q.assign_head, q.assign_tail);
}
inline std::vector<Piece*> wait_queue(const CamQueues& q) {
  return queue_from_tail(q.wait_head, q.wait_tail);
}

inline std::vector<double> first_lines(const std::vector<Piece*>& v) {
  std::vector<double> out;
  for (const Piece* p : v) out.push_back(p->first_line);
  return out;
}

inline int used_slots(const RunContext& ctx) {
  int n = 0;
  for (const Piece& p : ctx.pool.slots) n += p.owner != PieceOwner::kFree ? 1 : 0;
  return n;
}

}  // namespace quorda::testing
