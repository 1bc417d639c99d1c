// The piece pool and the per-camera queues.
//
// The pool is a table of POOL_SIZE slots with a rotating search cursor; every slot carries its own
// run array of MAXLIN runs, so taking and giving back a piece never touches the heap and a
// waiting piece is never cut to its used length. Each camera keeps an "Assign-queue" (the pieces
// of the block being cut) and a "Wait-queue" (finished pieces waiting for a partner from the other
// camera): intrusive doubly linked lists, head newest, tail oldest.
#include "match/pool.h"

#include <cstdint>
#include <cstdio>

#include "base/trace.h"

namespace quorda {

namespace {

constexpr const char* kIllegalAddressText = "** w_free: Illegal input adress %p!\n";
constexpr const char* kEmptiedByForceText = "queues emptied by force !";
constexpr const char* kNoFreeSlotText = "** new_piece: no free piece slot after emptying all queues\n";
constexpr const char* kChronologyText = "%s %c -> Chronology - Error ";
constexpr const char* kChronologyLinesText = "%lu %lu\n";
constexpr const char* kAssignQueueName = "Assign-queue";
constexpr const char* kWaitQueueName = "Wait-queue";
constexpr char kFreeSlotChar = '.';  // a free slot in the pool map

// Frees every piece of one queue from its head on and leaves the queue empty.
void empty_queue(Pool& pool, Diag& diag, Piece*& head, Piece*& tail) {
  while (head != nullptr) {
    Piece* p = head;
    head = p->next;
    if (head != nullptr) head->prev = nullptr;
    free_piece(pool, diag, p);
  }
  tail = nullptr;
}

// Takes p out of the list head..tail without freeing it.
void unlink(Piece* p, Piece*& head, Piece*& tail) {
  if (p->next != nullptr) p->next->prev = p->prev;
  if (p->prev != nullptr) p->prev->next = p->next;
  if (p == head) head = p->next;
  if (p == tail) tail = p->prev;
}

}  // namespace

void init_pool(Pool& pool) {
  for (int i = 0; i < POOL_SIZE; ++i) {
    pool.slots[i] = Piece{};
    pool.slots[i].runs = pool.run_store[i];
  }
  pool.pool_next = 0;
}

Piece* take_piece(Pool& pool, Diag& diag) {
  for (int tries = 0; tries < POOL_SIZE; ++tries) {
    const int i = pool.pool_next;
    pool.pool_next = static_cast<int16_t>((i + 1) % POOL_SIZE);
    Piece& slot = pool.slots[i];
    if (slot.owner != PieceOwner::kFree) continue;
    slot.runs = pool.run_store[i];
    slot.owner = PieceOwner::kTaken;
    slot.next = nullptr;
    slot.prev = nullptr;
    return &slot;
  }
  trace_queue(diag, "** w_alloc: Out of space\n");
  return nullptr;
}

void free_piece(Pool& pool, Diag& diag, Piece* p) {
  // Address arithmetic on integers: p may point anywhere, and comparing unrelated pointers is not
  // defined.
  const auto base = reinterpret_cast<uintptr_t>(&pool.slots[0]);
  const auto addr = reinterpret_cast<uintptr_t>(p);
  const uintptr_t offset = addr - base;  // wraps to a huge value below the table
  if (offset >= sizeof(pool.slots) || offset % sizeof(Piece) != 0) {
    fatal(diag, kIllegalAddressText, static_cast<void*>(p));
  }
  Piece& slot = pool.slots[offset / sizeof(Piece)];
  slot.owner = PieceOwner::kFree;
  slot.next = nullptr;
  slot.prev = nullptr;
}

Piece* new_piece(Pool& pool, Diag& diag, CamQueues& q, CamQueues& other, const Run& run, double y) {
  Piece* p = take_piece(pool, diag);
  if (p == nullptr) {
    errf(diag, "%s", kEmptiedByForceText);
    for (CamQueues* c : {&q, &other}) empty_queue(pool, diag, c->wait_head, c->wait_tail);
    for (CamQueues* c : {&q, &other}) empty_queue(pool, diag, c->assign_head, c->assign_tail);
    p = take_piece(pool, diag);
    // Only a slot taken by take_piece and never queued could still be in use here; retrying would
    // loop for ever, so the run ends.
    if (p == nullptr) fatal(diag, "%s", kNoFreeSlotText);
  }
  p->owner = q.assign_id;
  p->x_min = run.start;
  p->x_max = run.end;
  p->width = 0;
  p->line_no = 1;
  p->last_line = y;
  p->first_line = y;
  p->runs[0] = run;
  p->overflow = false;

  p->next = q.assign_head;
  p->prev = nullptr;
  if (q.assign_head != nullptr) {
    q.assign_head->prev = p;
  } else {
    q.assign_tail = p;
  }
  q.assign_head = p;
  return p;
}

void unlink_assign(Pool& pool, Diag& diag, Piece* p, CamQueues& q) {
  unlink(p, q.assign_head, q.assign_tail);
  free_piece(pool, diag, p);
}

void unlink_wait(Pool& pool, Diag& diag, Piece* p, CamQueues& q) {
  unlink(p, q.wait_head, q.wait_tail);
  free_piece(pool, diag, p);
}

void chain_queues(Pool& pool, Diag& diag, CamQueues& q) {
  if (q.assign_head == nullptr) return;
  chrono_check(diag, kAssignQueueName, q.assign_id, q.assign_tail);

  Piece* old_wait_head = q.wait_head;
  q.assign_head->prev = nullptr;
  q.assign_tail->next = old_wait_head;
  if (old_wait_head != nullptr) {
    old_wait_head->prev = q.assign_tail;
  } else {
    q.wait_tail = q.assign_tail;
  }
  // The run arrays are part of the slots, so there is nothing to shorten: only the owner changes.
  for (Piece* p = q.assign_head; p != old_wait_head; p = p->next) p->owner = q.wait_id;
  q.wait_head = q.assign_head;
  q.assign_head = nullptr;
  q.assign_tail = nullptr;

  trace_queue(diag, "** chain_queues: ");
  trace_pool_map(pool, diag);
  chrono_check(diag, kWaitQueueName, q.wait_id, q.wait_tail);
}

uint32_t line_as_unsigned(double v) {
  // Through a 64-bit integer, as the conversion of the line numbers for printing requires; values
  // outside its range (and NaN) have no whole number and print as 0.
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(v > -kLimit && v < kLimit)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(v)));
}

void chrono_check(Diag& diag, const char* name, PieceOwner id, const Piece* start) {
  if (start == nullptr) return;
  const double t0 = start->first_line;
  for (const Piece* p = start; p != nullptr; p = p->prev) {
    if (p->first_line < t0) {
      errf(diag, kChronologyText, name, static_cast<char>(id));
      errf(diag, kChronologyLinesText, static_cast<unsigned long>(line_as_unsigned(p->first_line)),
           static_cast<unsigned long>(line_as_unsigned(t0)));
    }
  }
}

void free_wait_queue(Pool& pool, Diag& diag, CamQueues& q) {
  while (q.wait_head != nullptr) unlink_wait(pool, diag, q.wait_head, q);
  trace_queue(diag, "clear_w: ");
  trace_pool_map(pool, diag);
  trace_queue(diag, "\n");
}

void print_pool_map(const Pool& pool, Diag& diag) {
  char line[POOL_SIZE + 2];
  for (int i = 0; i < POOL_SIZE; ++i) {
    const PieceOwner owner = pool.slots[i].owner;
    line[i] = owner != PieceOwner::kFree ? static_cast<char>(owner) : kFreeSlotChar;
  }
  line[POOL_SIZE] = '\n';
  line[POOL_SIZE + 1] = '\0';
  std::fwrite(line, 1, POOL_SIZE + 1, diag.out);
}

void trace_pool_map(const Pool& pool, Diag& diag) {
  if constexpr (kTraceQueue) print_pool_map(pool, diag);
}

void label_queues(CamQueues& queues_a, CamQueues& queues_b) {
  queues_a.assign_id = PieceOwner::kAssignA;
  queues_a.wait_id = PieceOwner::kWaitA;
  queues_b.assign_id = PieceOwner::kAssignB;
  queues_b.wait_id = PieceOwner::kWaitB;
}

}  // namespace quorda
