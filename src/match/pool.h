// The piece pool and the per-camera queues.
//
// 900 slots with a rotating search cursor; a slot's run array is part of the slot. Each camera has
// an "Assign-queue" (pieces of the block being cut) and a "Wait-queue" (finished pieces waiting
// for a partner): intrusive doubly linked lists, head newest, walked from the tail.
#pragma once

#include <cstdint>

#include "base/diagnostics.h"
#include "match/match_state.h"
#include "match/piece.h"

namespace quorda {

struct Pool;

// Points every slot's run array at its storage and frees all slots. Called once per run context.
void init_pool(Pool& pool);

// Returns a free slot with owner kTaken and no neighbours, or null when all POOL_SIZE slots are in
// use. The search starts at the cursor, which afterwards stands behind the slot returned.
Piece* take_piece(Pool& pool, Diag& diag);
// Gives a slot back. An address that is not the start of a slot ends the run.
void free_piece(Pool& pool, Diag& diag, Piece* p);
// Takes a slot, fills it as the one-line piece of `run` on line y and pushes it at the head of q's
// assign queue. When the pool is full, all queues of both cameras (q and `other`) are emptied by
// force first.
Piece* new_piece(Pool& pool, Diag& diag, CamQueues& q, CamQueues& other, const Run& run, double y);
// Take p out of the assign (wait) queue and free it.
void unlink_assign(Pool& pool, Diag& diag, Piece* p, CamQueues& q);
void unlink_wait(Pool& pool, Diag& diag, Piece* p, CamQueues& q);
// Moves the whole assign queue onto the head side of the wait queue, checking the chronology of
// both queues.
void chain_queues(Pool& pool, Diag& diag, CamQueues& q);
// Reports on the error stream every piece from `start` towards the head that begins before
// `start` does. Changes nothing.
void chrono_check(Diag& diag, const char* name, PieceOwner id, const Piece* start);
// Frees the whole wait queue of one camera.
void free_wait_queue(Pool& pool, Diag& diag, CamQueues& q);
// The pool map trace: only with the queue trace switch on.
void trace_pool_map(const Pool& pool, Diag& diag);
// The pool map itself, always: one character per slot ('.' free, else the character of its owner)
// and a newline, on standard output.
void print_pool_map(const Pool& pool, Diag& diag);
// A line number as the unsigned whole number the chronology report prints: cut towards zero to a
// 64-bit integer, then its low 32 bits; 0 for a value with no such integer (NaN, out of range).
uint32_t line_as_unsigned(double v);

// Labels the queue pairs with their owners: A kAssignA/kWaitA, B kAssignB/kWaitB.
void label_queues(CamQueues& queues_a, CamQueues& queues_b);

}  // namespace quorda
