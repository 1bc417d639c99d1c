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

struct Piece {
  int16_t x_min = 0;      // smallest run start over all lines
  int16_t x_max = 0;      // largest run end over all lines
  int16_t width = 0;      // largest end - start of a line added after the first one
  int16_t line_no = 0;    // number of runs held in `runs`, at most MAXLIN
  double last_line = 0;   // y_count of the most recent line added
  double first_line = 0;  // y_count of the first line
  Piece* next = nullptr;  // towards the tail (older pieces)
  Piece* prev = nullptr;  // towards the head (newer pieces)
  int16_t owner = 0;      // 0 free, 1 just allocated, else the id character of its queue
  int16_t overflow = 0;   // 1 when a line reached the piece while it held MAXLIN lines
  Run* runs = nullptr;    // one run per line, in line order; points into the slot's own storage
};

// The two queues of one camera.
struct CamQueues {
  char assign_id = 0;  // '1' for camera A, '2' for camera B
  char wait_id = 0;    // 'V' for camera A, 'W' for camera B
  Piece* assign_head = nullptr;
  Piece* assign_tail = nullptr;
  Piece* wait_head = nullptr;
  Piece* wait_tail = nullptr;
};

}  // namespace quorda
