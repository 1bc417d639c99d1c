// Piece assignment: the runs of one decoded block into pieces, one per particle and camera.
//
// A run continues the newest piece of the assign queue that the line just before touched and
// whose last stored run overlaps it (touching ends count); otherwise it opens a new piece. At the
// end of the block the pieces that cannot be particles are dropped: those that ran past MAXLIN
// lines, those one pixel wide and those of a single line.
#include "match/assign_pieces.h"

#include <algorithm>

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
  for (int i = 0; i < n_lin; ++i) {
    const LineRecord& line = block.lines[i];
    const double y = line.y_count;
    const int n_runs = std::clamp<int>(line.n_runs, 0, kMaxRuns);
    for (int j = 0; j < n_runs; ++j) {
      const Run& r = line.runs[j];
      Piece* p = find_continued(q, y, r);
      if (p == nullptr) {
        new_piece(ctx, r.start, r.end, y, q);
        ++opened;
      } else {
        extend(p, y, r);
      }
    }
  }

  for (Piece* p = q.assign_head; p != nullptr;) {
    Piece* next = p->next;
    if (!keeps(p)) unlink_assign(ctx, p, q);
    p = next;
  }

  hprintf_q(ctx.diag, "** assign_pieces: ");
  pool_map(ctx);
  return opened;
}

}  // namespace quorda
