// The piece pool and the queues: allocation and its cursor, forced emptying, unlinking, moving
// the assign queue to the wait queue and the chronology report.
#include "match/pool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "match/queue_helpers.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::add_piece;
using testing::assign_queue;
using testing::first_lines;
using testing::used_slots;
using testing::wait_queue;

using PoolRun = testing::MatchParts;

TEST(TakePiece, CursorStandsBehindTheSlotReturnedAndWrapsAfter900) {
  PoolRun t;
  Piece* first = take_piece(t.pool, t.diag);
  ASSERT_EQ(first, &t.pool.slots[0]);
  EXPECT_EQ(t.pool.pool_next, 1);
  EXPECT_EQ(first->owner, PieceOwner::kTaken);
  EXPECT_EQ(first->next, nullptr);
  EXPECT_EQ(first->prev, nullptr);
  EXPECT_EQ(first->runs, t.pool.run_store[0]);

  for (int i = 1; i < POOL_SIZE; ++i) ASSERT_EQ(take_piece(t.pool, t.diag), &t.pool.slots[i]);
  EXPECT_EQ(t.pool.pool_next, 0);
  EXPECT_EQ(used_slots(t.pool), POOL_SIZE);

  // The 901st without a free: nothing found, and the cursor has gone round once.
  EXPECT_EQ(take_piece(t.pool, t.diag), nullptr);
  EXPECT_EQ(t.pool.pool_next, 0);
  EXPECT_EQ(t.err(), "");
}

TEST(TakePiece, SearchStartsAtTheCursorAndSkipsSlotsInUse) {
  PoolRun t;
  for (int i = 0; i < POOL_SIZE; ++i) take_piece(t.pool, t.diag);
  free_piece(t.pool, t.diag, &t.pool.slots[7]);
  free_piece(t.pool, t.diag, &t.pool.slots[3]);
  EXPECT_EQ(take_piece(t.pool, t.diag), &t.pool.slots[3]);
  EXPECT_EQ(t.pool.pool_next, 4);
  free_piece(t.pool, t.diag, &t.pool.slots[1]);
  // Slot 1 is behind the cursor now: the search goes on to 7 first.
  EXPECT_EQ(take_piece(t.pool, t.diag), &t.pool.slots[7]);
  EXPECT_EQ(t.pool.pool_next, 8);
  EXPECT_EQ(take_piece(t.pool, t.diag), &t.pool.slots[1]);
  EXPECT_EQ(t.pool.pool_next, 2);
}

TEST(FreePiece, GivesTheSlotBackWithoutNeighbours) {
  PoolRun t;
  Piece* p = add_piece(t, 1, 5, 10.0, t.queues_a);
  Piece* q = add_piece(t, 1, 5, 11.0, t.queues_a);
  ASSERT_EQ(q->next, p);
  free_piece(t.pool, t.diag, q);
  EXPECT_EQ(q->owner, PieceOwner::kFree);
  EXPECT_EQ(q->next, nullptr);
  EXPECT_EQ(q->prev, nullptr);
  EXPECT_EQ(used_slots(t.pool), 1);
}

std::string illegal_address_message(const void* p) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "** w_free: Illegal input adress %p!\n", p);
  return buf;
}

TEST(FreePiece, AddressInsideTheTableButNotAtASlotStartEndsTheRun) {
  PoolRun t;
  Piece* inside = reinterpret_cast<Piece*>(reinterpret_cast<char*>(&t.pool.slots[3]) + 8);
  EXPECT_EQ(t.ends_with([&] { free_piece(t.pool, t.diag, inside); }), kExitFatal);
  EXPECT_EQ(t.err(), illegal_address_message(inside));
}

TEST(FreePiece, AddressOutsideTheTableEndsTheRun) {
  PoolRun t;
  Piece elsewhere;
  EXPECT_EQ(t.ends_with([&] { free_piece(t.pool, t.diag, &elsewhere); }), kExitFatal);
  EXPECT_EQ(t.err(), illegal_address_message(&elsewhere));
  t.clear_streams();
  Piece* behind = &t.pool.slots[POOL_SIZE - 1] + 1;
  EXPECT_EQ(t.ends_with([&] { free_piece(t.pool, t.diag, behind); }), kExitFatal);
  EXPECT_EQ(t.err(), illegal_address_message(behind));
}

TEST(NewPiece, FillsAOneLinePieceAndPushesItAtTheAssignHead) {
  PoolRun t;
  CamQueues& b = t.queues_b;
  Piece* older = add_piece(t, 10, 14, 100.0, b);
  Piece* p = add_piece(t, 20, 29, 101.0, b);
  EXPECT_EQ(p->owner, PieceOwner::kAssignB);
  EXPECT_EQ(p->x_min, 20);
  EXPECT_EQ(p->x_max, 29);
  EXPECT_EQ(p->width, 0);
  EXPECT_EQ(p->line_no, 1);
  EXPECT_EQ(p->first_line, 101.0);
  EXPECT_EQ(p->last_line, 101.0);
  EXPECT_EQ(p->overflow, false);
  EXPECT_EQ(p->runs[0].start, 20);
  EXPECT_EQ(p->runs[0].end, 29);
  EXPECT_EQ(b.assign_head, p);
  EXPECT_EQ(b.assign_tail, older);
  EXPECT_EQ(first_lines(assign_queue(b)), (std::vector<double>{100.0, 101.0}));
  EXPECT_EQ(t.queues_a.assign_head, nullptr);
}

TEST(NewPiece, ClearsTheOverflowMarkAndWidthLeftInTheSlot) {
  PoolRun t;
  Piece* p = add_piece(t, 1, 5, 1.0, t.queues_a);
  p->overflow = true;
  p->width = 33;
  unlink_assign(t.pool, t.diag, p, t.queues_a);
  t.pool.pool_next = 0;
  Piece* again = add_piece(t, 1, 5, 2.0, t.queues_a);
  ASSERT_EQ(again, p);
  EXPECT_EQ(again->overflow, false);
  EXPECT_EQ(again->width, 0);
}

TEST(NewPiece, The901stPieceEmptiesAllFourQueuesByForce) {
  PoolRun t;
  PoolRun& c = t;
  // Waiting and half-built pieces of both cameras fill the pool.
  for (int i = 0; i < 300; ++i) add_piece(c, 0, 5, i, c.queues_a);
  chain_queues(c.pool, c.diag, c.queues_a);
  for (int i = 0; i < 300; ++i) add_piece(c, 0, 5, i, c.queues_b);
  chain_queues(c.pool, c.diag, c.queues_b);
  for (int i = 0; i < 200; ++i) add_piece(c, 0, 5, 1000 + i, c.queues_a);
  for (int i = 0; i < 100; ++i) add_piece(c, 0, 5, 1000 + i, c.queues_b);
  ASSERT_EQ(used_slots(c.pool), POOL_SIZE);
  EXPECT_EQ(t.err(), "");

  Piece* p = add_piece(c, 7, 9, 5000.0, c.queues_b);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(t.err(), "queues emptied by force !");
  EXPECT_EQ(used_slots(c.pool), 1);
  EXPECT_EQ(wait_queue(c.queues_a).size(), 0u);
  EXPECT_EQ(wait_queue(c.queues_b).size(), 0u);
  EXPECT_EQ(assign_queue(c.queues_a).size(), 0u);
  ASSERT_EQ(assign_queue(c.queues_b), std::vector<Piece*>{p});
  EXPECT_EQ(p->owner, PieceOwner::kAssignB);
  EXPECT_EQ(p->first_line, 5000.0);
  EXPECT_EQ(p->next, nullptr);
  EXPECT_EQ(p->prev, nullptr);
}

TEST(NewPiece, EndsTheRunWhenNoSlotIsFreeEvenAfterEmptying) {
  PoolRun t;
  // Slots taken by take_piece and never queued cannot be freed by emptying the queues.
  for (int i = 0; i < POOL_SIZE; ++i) take_piece(t.pool, t.diag);
  int status = t.ends_with([&] { add_piece(t, 0, 1, 1.0, t.queues_a); });
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(t.err(), "queues emptied by force !** new_piece: no free piece slot after emptying all queues\n");
}

TEST(Unlink, RemovesHeadMiddleAndTailKeepingTheLinks) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  Piece* p[5];
  for (int i = 0; i < 5; ++i) p[i] = add_piece(t, 0, 3, 10.0 + i, a);
  unlink_assign(t.pool, t.diag, p[2], a);  // middle
  EXPECT_EQ(first_lines(assign_queue(a)), (std::vector<double>{10, 11, 13, 14}));
  unlink_assign(t.pool, t.diag, p[4], a);  // head
  EXPECT_EQ(first_lines(assign_queue(a)), (std::vector<double>{10, 11, 13}));
  unlink_assign(t.pool, t.diag, p[0], a);  // tail
  EXPECT_EQ(first_lines(assign_queue(a)), (std::vector<double>{11, 13}));
  EXPECT_EQ(p[0]->owner, PieceOwner::kFree);
  EXPECT_EQ(used_slots(t.pool), 2);

  chain_queues(t.pool, t.diag, a);
  unlink_wait(t.pool, t.diag, p[3], a);
  unlink_wait(t.pool, t.diag, p[1], a);  // the only one left
  EXPECT_EQ(a.wait_head, nullptr);
  EXPECT_EQ(a.wait_tail, nullptr);
  EXPECT_EQ(used_slots(t.pool), 0);
}

TEST(ChainQueues, EmptyAssignQueueChangesNothingAndPrintsNothing) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  Piece* w = add_piece(t, 0, 3, 50.0, a);
  chain_queues(t.pool, t.diag, a);
  chain_queues(t.pool, t.diag, a);
  EXPECT_EQ(a.wait_head, w);
  EXPECT_EQ(a.wait_tail, w);
  EXPECT_EQ(a.assign_head, nullptr);
  EXPECT_EQ(w->owner, PieceOwner::kWaitA);
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(t.out(), "");
}

TEST(ChainQueues, OntoAnEmptyWaitQueueTheAssignTailBecomesTheWaitTail) {
  PoolRun t;
  CamQueues& b = t.queues_b;
  Piece* oldest = add_piece(t, 0, 3, 1.0, b);
  Piece* newest = add_piece(t, 0, 3, 2.0, b);
  chain_queues(t.pool, t.diag, b);
  EXPECT_EQ(b.wait_tail, oldest);
  EXPECT_EQ(b.wait_head, newest);
  EXPECT_EQ(b.assign_head, nullptr);
  EXPECT_EQ(b.assign_tail, nullptr);
  EXPECT_EQ(oldest->owner, PieceOwner::kWaitB);
  EXPECT_EQ(newest->owner, PieceOwner::kWaitB);
}

TEST(ChainQueues, PutsTheNewBlockOnTheHeadSideOfTheWaitingPieces) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  for (double y : {1.0, 2.0, 3.0}) add_piece(t, 0, 3, y, a);
  chain_queues(t.pool, t.diag, a);
  for (double y : {10.0, 11.0}) add_piece(t, 0, 3, y, a);
  chain_queues(t.pool, t.diag, a);
  auto w = wait_queue(a);
  EXPECT_EQ(first_lines(w), (std::vector<double>{1, 2, 3, 10, 11}));
  for (const Piece* p : w) EXPECT_EQ(p->owner, PieceOwner::kWaitA);
  EXPECT_EQ(t.err(), "");
}

TEST(ChronoCheck, EqualFirstLinesPass) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  for (int i = 0; i < 4; ++i) add_piece(t, 0, 3, 100.0, a);
  chain_queues(t.pool, t.diag, a);
  chrono_check(t.diag, "Wait-queue", PieceOwner::kWaitA, a.wait_tail);
  EXPECT_EQ(t.err(), "");
}

TEST(ChronoCheck, ReportsOnlyPiecesThatBeginBeforeTheStartPiece) {
  PoolRun t;
  CamQueues& b = t.queues_b;
  // From the tail: 100, 120, 110 (out of order with its neighbour but not before 100), 90.
  for (double y : {100.0, 120.0, 110.0, 90.5}) add_piece(t, 0, 3, y, b);
  chrono_check(t.diag, "Assign-queue", PieceOwner::kAssignB, b.assign_tail);
  EXPECT_EQ(t.err(), "Assign-queue 2 -> Chronology - Error 90 100\n");
  chrono_check(t.diag, "x", PieceOwner::kWaitB, nullptr);
  EXPECT_EQ(t.err(), "Assign-queue 2 -> Chronology - Error 90 100\n");
}

TEST(ChronoCheck, ChainQueuesChecksBothQueues) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  add_piece(t, 0, 3, 500.0, a);
  chain_queues(t.pool, t.diag, a);
  add_piece(t, 0, 3, 400.0, a);
  add_piece(t, 0, 3, 300.0, a);
  chain_queues(t.pool, t.diag, a);
  EXPECT_EQ(t.err(),
            "Assign-queue 1 -> Chronology - Error 300 400\n"
            "Wait-queue V -> Chronology - Error 400 500\n"
            "Wait-queue V -> Chronology - Error 300 500\n");
}

TEST(ChronoCheck, LineNumbersPrintAsUnsigned32BitWholeNumbers) {
  EXPECT_EQ(line_as_unsigned(123.9), 123u);
  EXPECT_EQ(line_as_unsigned(-1.0), 4294967295u);
  EXPECT_EQ(line_as_unsigned(-0.5), 0u);
  EXPECT_EQ(line_as_unsigned(4294967296.0 + 5.0), 5u);
  EXPECT_EQ(line_as_unsigned(std::nan("")), 0u);
  EXPECT_EQ(line_as_unsigned(1e30), 0u);
  EXPECT_EQ(line_as_unsigned(-1e30), 0u);
  EXPECT_EQ(line_as_unsigned(std::numeric_limits<double>::infinity()), 0u);

  PoolRun t;
  CamQueues& a = t.queues_a;
  add_piece(t, 0, 3, 0.0, a);
  add_piece(t, 0, 3, -2.0, a);
  chrono_check(t.diag, "Assign-queue", PieceOwner::kAssignA, a.assign_tail);
  EXPECT_EQ(t.err(), "Assign-queue 1 -> Chronology - Error 4294967294 0\n");
}

TEST(ClearW, FreesTheWaitQueueOnly) {
  PoolRun t;
  CamQueues& a = t.queues_a;
  for (double y : {1.0, 2.0, 3.0}) add_piece(t, 0, 3, y, a);
  chain_queues(t.pool, t.diag, a);
  Piece* building = add_piece(t, 0, 3, 4.0, a);
  free_wait_queue(t.pool, t.diag, a);
  EXPECT_EQ(a.wait_head, nullptr);
  EXPECT_EQ(a.wait_tail, nullptr);
  EXPECT_EQ(assign_queue(a), std::vector<Piece*>{building});
  EXPECT_EQ(used_slots(t.pool), 1);
  EXPECT_EQ(t.out(), "");  // the trace is off
}

}  // namespace
}  // namespace quorda
