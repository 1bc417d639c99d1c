// The piece pool and the per-camera queues.
//
// 900 slots with a rotating search cursor; a slot's run array is part of the slot. Each camera has
// an "Assign-queue" (pieces of the block being cut) and a "Wait-queue" (finished pieces waiting
// for a partner): intrusive doubly linked lists, head newest, walked from the tail.
#pragma once

#include <cstdint>

#include "common/piece.h"

namespace quorda {

struct RunContext;
struct Pool;

// Points every slot's run array at its storage and frees all slots. Called once per run context.
void init_pool(Pool& pool);

Piece* w_alloc(RunContext& ctx);
void w_free(RunContext& ctx, Piece* p);
// Takes a slot (emptying all queues by force when the pool is full), fills it as a one-line piece
// and pushes it at the head of the assign queue.
Piece* new_piece(RunContext& ctx, int16_t start, int16_t end, double y, CamQueues& q);
void unlink_assign(RunContext& ctx, Piece* p, CamQueues& q);
void unlink_wait(RunContext& ctx, Piece* p, CamQueues& q);
void chain_queues(RunContext& ctx, CamQueues& q);
void chrono_check(RunContext& ctx, const char* name, char id, const Piece* start);
void clear_w(RunContext& ctx, CamQueues& q);
void pool_map(RunContext& ctx);

// Labels the queue pairs: A '1'/'V', B '2'/'W'.
void label_queues(RunContext& ctx);

}  // namespace quorda
