// The piece: one particle as seen by one camera, and the queue pair of a camera.
//
// Pieces live in the fixed pool of the matcher (match/pool.h); each slot carries its own run
// array of MAXLIN runs, so a piece never touches the heap. Queues are intrusive doubly linked
// lists: the head is the newest piece, the tail the oldest; `next` walks towards the tail.
#pragma once

#include <cstdint>

#include "base/constants.h"
#include "format/line_record.h"

namespace quorda {

// Who holds a pool slot: free, just taken, or a queue of camera A or B. The value of a queue's
// owner is the character the pool map shows for its pieces.
enum class PieceOwner : char {
  kFree = 0,
  kTaken = 1,
  kAssignA = '1',
  kAssignB = '2',
  kWaitA = 'V',
  kWaitB = 'W',
};

struct Piece {
  int16_t x_min = 0;      // smallest run start over all lines
  int16_t x_max = 0;      // largest run end over all lines
  int16_t width = 0;      // largest end - start of a line added after the first one
  int16_t line_no = 0;    // number of runs held in `runs`, at most MAXLIN
  double last_line = 0;   // y_count of the most recent line added
  double first_line = 0;  // y_count of the first line
  Piece* next = nullptr;  // towards the tail (older pieces)
  Piece* prev = nullptr;  // towards the head (newer pieces)
  PieceOwner owner = PieceOwner::kFree;
  bool overflow = false;  // a line reached the piece while it held MAXLIN lines
  Run* runs = nullptr;    // one run per line, in line order; points into the slot's own storage
};

// The two queues of one camera.
struct CamQueues {
  PieceOwner assign_id = PieceOwner::kFree;  // owner of the pieces of the assign queue
  PieceOwner wait_id = PieceOwner::kFree;    // owner of the pieces of the wait queue
  Piece* assign_head = nullptr;
  Piece* assign_tail = nullptr;
  Piece* wait_head = nullptr;
  Piece* wait_tail = nullptr;
};

}  // namespace quorda
