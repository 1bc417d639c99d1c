// The piece pool and the per-camera queues.
//
// 900 slots with a rotating search cursor; a slot's run array is part of the slot. Each camera has
// an "Assign-queue" (pieces of the block being cut) and a "Wait-queue" (finished pieces waiting
// for a partner): intrusive doubly linked lists, head newest, walked from the tail.
#pragma once

#include <cstdint>

#include "match/match_run.h"
#include "match/piece.h"

namespace quorda {

struct Pool;

// Points every slot's run array at its storage and frees all slots. Called once per run context.
void init_pool(Pool& pool);

// Returns a free slot with owner kTaken and no neighbours, or null when all POOL_SIZE slots are in
// use. The search starts at the cursor, which afterwards stands behind the slot returned.
Piece* take_piece(const MatchRun& ctx);
// Gives a slot back. An address that is not the start of a slot ends the run.
void free_piece(const MatchRun& ctx, Piece* p);
// Takes a slot (emptying all queues by force when the pool is full), fills it as a one-line piece
// and pushes it at the head of the assign queue.
Piece* new_piece(const MatchRun& ctx, int16_t start, int16_t end, double y, CamQueues& q);
// Take p out of the assign (wait) queue and free it.
void unlink_assign(const MatchRun& ctx, Piece* p, CamQueues& q);
void unlink_wait(const MatchRun& ctx, Piece* p, CamQueues& q);
// Moves the whole assign queue onto the head side of the wait queue, checking the chronology of
// both queues.
void chain_queues(const MatchRun& ctx, CamQueues& q);
// Reports on the error stream every piece from `start` towards the head that begins before
// `start` does. Changes nothing.
void chrono_check(const MatchRun& ctx, const char* name, PieceOwner id, const Piece* start);
// Frees the whole wait queue of one camera.
void clear_w(const MatchRun& ctx, CamQueues& q);
// The pool map trace: only with the queue trace switch on.
void pool_map(const MatchRun& ctx);
// The pool map itself, always: one character per slot ('.' free, else the character of its owner)
// and a newline, on standard output.
void print_pool_map(const MatchRun& ctx);
// A line number as the unsigned whole number the chronology report prints: cut towards zero to a
// 64-bit integer, then its low 32 bits; 0 for a value with no such integer (NaN, out of range).
uint32_t line_as_unsigned(double v);

// Labels the queue pairs with their owners: A kAssignA/kWaitA, B kAssignB/kWaitB.
void label_queues(const MatchRun& ctx);

}  // namespace quorda
