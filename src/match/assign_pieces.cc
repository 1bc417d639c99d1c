// Piece assignment: the runs of one decoded block into pieces, one per particle and camera.
//
// A run continues the newest piece of the assign queue that the line just before touched and
// whose last stored run overlaps it (touching ends count); otherwise it opens a new piece. At the
// end of the block the pieces that cannot be particles are dropped: those that ran past MAXLIN
// lines, those one pixel wide and those of a single line.
//
// Finding the continued piece. A run can only continue a piece whose last line is its own line
// number minus one. When line numbers are whole numbers (below 2^52, so that y - 1 is exact and
// y - last == 1 means last == y - 1) and rise from line to line, those pieces are exactly the ones
// the line before touched, which the loop keeps in queue order (at most kMaxRuns): a run looks
// at them instead of walking the whole assign queue. Any other line number (a fraction, a step
// back, a value too large) takes the walk, and the list is rebuilt from the queue afterwards.
#include "match/assign_pieces.h"

#include <algorithm>
#include <cmath>

#include "base/trace.h"
#include "match/match_run.h"
#include "match/pool.h"

namespace quorda {

namespace {

// The newest piece that the run continues, or null.
Piece* find_continued(const CamQueues& q, double y, const Run& r) {
  for (Piece* p = q.assign_head; p != nullptr; p = p->next) {
    if (y - p->last_line != 1.0) continue;
    const Run& last = p->runs[p->line_no - 1];
    if (last.start <= r.end && last.end >= r.start) return p;
  }
  return nullptr;
}

void extend(Piece* p, double y, const Run& r) {
  p->last_line = y;
  if (p->line_no >= MAXLIN) {
    // The streak is too long to be one particle: it goes on absorbing its runs so that they open
    // no pieces of their own, and is dropped at the end of the block.
    p->overflow = true;
    p->runs[p->line_no - 1] = r;
    return;
  }
  p->x_min = std::min(p->x_min, r.start);
  p->x_max = std::max(p->x_max, r.end);
  p->width = std::max<int16_t>(p->width, static_cast<int16_t>(r.end - r.start));
  p->runs[p->line_no] = r;
  ++p->line_no;
}

bool overlaps_last(const Piece* p, const Run& r) {
  const Run& last = p->runs[p->line_no - 1];
  return last.start <= r.end && last.end >= r.start;
}

// Largest line number counted exactly with a step of 1 on either side.
constexpr double kWholeLimit = 4503599627370496.0;  // 2^52

// The queues of the camera that q does not belong to.
CamQueues& other_queues(const MatchRun& ctx, const CamQueues& q) {
  return &q == &ctx.queues_a ? ctx.queues_b : ctx.queues_a;
}

bool whole_line(double y) {
  return std::fabs(y) < kWholeLimit && static_cast<double>(static_cast<int64_t>(y)) == y;
}

// The pieces whose last line is `top`, in queue order (newest first). Valid when `exact`: every
// piece of the assign queue then has a whole last line of at most `top`, and `pieces` holds all
// of those whose last line is `top`.
struct LastTouched {
  bool exact = true;
  double top = -HUGE_VAL;
  int n = 0;
  Piece* pieces[kMaxRuns] = {};

  // Rebuilds the list from the queue.
  void scan(const CamQueues& q) {
    exact = true;
    top = -HUGE_VAL;
    n = 0;
    for (const Piece* p = q.assign_head; p != nullptr; p = p->next) {
      if (!whole_line(p->last_line)) exact = false;
      top = std::max(top, p->last_line);
    }
    for (Piece* p = q.assign_head; p != nullptr && exact; p = p->next) {
      if (p->last_line != top) continue;
      if (n == kMaxRuns) {
        exact = false;
      } else {
        pieces[n++] = p;
      }
    }
  }
};

// A line whose number y is whole and above every piece's last line: its runs continue pieces of
// `last` only (all of them when y - 1 is their line, else none). Afterwards `last` holds the
// pieces this line touched. Returns the pieces opened.
int assign_rising_line(const MatchRun& ctx, const LineRecord& line, int n_runs, CamQueues& q,
                       LastTouched& last) {
  const double y = line.y_count;
  int n_cand = y - 1 == last.top ? last.n : 0;
  last.top = y;
  unsigned continued = 0;   // bit k: candidate k took a run of this line
  Piece* opened[kMaxRuns];  // the pieces opened that are still in the queue
  int n_opened = 0;
  int count = 0;
  for (int j = 0; j < n_runs; ++j) {
    const Run& r = line.runs[j];
    int k = 0;
    while (k < n_cand && (((continued >> k) & 1u) != 0 || !overlaps_last(last.pieces[k], r))) ++k;
    if (k < n_cand) {
      extend(last.pieces[k], y, r);
      continued |= 1u << k;
      continue;
    }
    Piece* p = new_piece(ctx.pool, ctx.diag, q, other_queues(ctx, q), r, y);
    ++count;
    if (p->next == nullptr) {
      // The queue holds p alone: a full pool emptied it, and the pieces of the list are gone.
      continued = 0;
      n_opened = 0;
      n_cand = 0;
    }
    opened[n_opened++] = p;
  }
  // Queue order: the pieces opened, newest first, then the continued ones in their order.
  int n = 0;
  for (int k = 0; k < n_cand; ++k) {
    if (((continued >> k) & 1u) != 0) last.pieces[n++] = last.pieces[k];
  }
  if (n_opened > 0) {
    for (int k = n - 1; k >= 0; --k) last.pieces[k + n_opened] = last.pieces[k];
    for (int k = 0; k < n_opened; ++k) last.pieces[k] = opened[n_opened - 1 - k];
  }
  last.n = n + n_opened;
  return count;
}

// The most common lines: one run each, on consecutive line numbers, each going on with the one
// piece that the line before touched (the only piece of `last`). Takes such lines from line i on
// with the piece's fields held in registers, and returns the index of the first line it did not
// take. REQUIRES: last.exact, last.n == 1.
int extend_streak(const LineRecord* lines, int i, int n_lin, LastTouched& last) {
  Piece* p = last.pieces[0];
  double prev = last.top;
  // prev + 1 is exact, and y == prev + 1 means a whole y, while prev stays below 2^52 - 1: far
  // below it no block is long enough to get there. Nearer, the lines go one by one through the
  // general path. The piece takes lines up to MAXLIN.
  if (!(std::fabs(prev) < kWholeLimit - 1 - kLineBufLines)) return i;
  const int stop = std::min(n_lin, i + (MAXLIN - p->line_no));
  Run* out = p->runs + p->line_no;
  int16_t x_min = p->x_min;
  int16_t x_max = p->x_max;
  int16_t width = p->width;
  Run tail = out[-1];
  const int first = i;
  for (; i < stop; ++i) {
    const LineRecord& line = lines[i];
    const Run r = line.runs[0];
    if (line.n_runs != 1 || line.y_count != prev + 1 || !(tail.start <= r.end && tail.end >= r.start)) break;
    x_min = std::min(x_min, r.start);
    x_max = std::max(x_max, r.end);
    width = std::max<int16_t>(width, static_cast<int16_t>(r.end - r.start));
    *out++ = r;
    tail = r;
    prev = line.y_count;
  }
  p->line_no = static_cast<int16_t>(p->line_no + (i - first));
  p->x_min = x_min;
  p->x_max = x_max;
  p->width = width;
  p->last_line = prev;
  last.top = prev;
  return i;
}

bool keeps(const Piece* p) {
  if (p->overflow) return false;
  if (p->x_max - p->x_min + 1 < 2) return false;
  return p->line_no >= 2;
}

}  // namespace

int assign_pieces(const MatchRun& ctx, const LineBlock& block, CamQueues& q) {
  int opened = 0;
  // The block views a line buffer of kLineBufLines records; a larger announced count is cut there.
  const int n_lin = std::clamp<int>(block.n_lin, 0, kLineBufLines);
  LastTouched last;
  last.scan(q);
  for (int i = 0; i < n_lin; ++i) {
    if (last.exact && last.n == 1) {
      i = extend_streak(block.lines, i, n_lin, last);
      if (i == n_lin) break;
    }
    const LineRecord& line = block.lines[i];
    const double y = line.y_count;
    const int n_runs = std::clamp<int>(line.n_runs, 0, kMaxRuns);
    if (last.exact && y > last.top && whole_line(y)) {
      opened += assign_rising_line(ctx, line, n_runs, q, last);
      continue;
    }
    for (int j = 0; j < n_runs; ++j) {
      const Run& r = line.runs[j];
      Piece* p = find_continued(q, y, r);
      if (p == nullptr) {
        new_piece(ctx.pool, ctx.diag, q, other_queues(ctx, q), r, y);
        ++opened;
      } else {
        extend(p, y, r);
      }
    }
    if (whole_line(y)) {
      last.scan(q);
    } else {
      last.exact = false;  // the pieces it touched now end at a fraction
    }
  }

  for (Piece* p = q.assign_head; p != nullptr;) {
    Piece* next = p->next;
    if (!keeps(p)) unlink_assign(ctx.pool, ctx.diag, p, q);
    p = next;
  }

  trace_queue(ctx.diag, "** assign_pieces: ");
  trace_pool_map(ctx.pool, ctx.diag);
  return opened;
}

}  // namespace quorda
