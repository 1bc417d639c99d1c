// Test helpers for the piece queues: walk a queue checking its links, and build queues quickly.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/diagnostics.h"
#include "match/match_run.h"
#include "match/match_state.h"
#include "match/piece.h"
#include "match/pool.h"
#include "support/test_context.h"

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

inline int used_slots(const Pool& pool) {
  int n = 0;
  for (const Piece& p : pool.slots) n += p.owner != PieceOwner::kFree ? 1 : 0;
  return n;
}

// A new one-line piece on q's assign queue; `parts` holds the pool, the diagnostics and the queues
// of both cameras (a run context or MatchParts).
template <typename Parts>
Piece* add_piece(Parts& parts, int16_t start, int16_t end, double y, CamQueues& q) {
  CamQueues& other = &q == &parts.queues_a ? parts.queues_b : parts.queues_a;
  return new_piece(parts.pool, parts.diag, q, other, Run{start, end}, y);
}

// The parts the matching routines work on, built alone: the pool, the queues of both cameras
// (labelled as after the driver's first pass), the matcher, diagnostics on captured streams, and a
// sink that counts the pairs.
struct MatchParts : CapturedStreams, PairSink {
  MatchParts() {
    capture(diag);
    init_pool(pool);
    label_queues(queues_a, queues_b);
  }
  void take(const Piece& /*a*/, const Piece& /*b*/) override { ++pairs; }
  MatchRun run() { return {diag, pool, queues_a, queues_b, matcher, *this}; }

  Diag diag;
  std::unique_ptr<Pool> pool_store = std::make_unique<Pool>();
  Pool& pool = *pool_store;
  CamQueues queues_a;
  CamQueues queues_b;
  Matcher matcher;
  int pairs = 0;
};

}  // namespace quorda::testing
