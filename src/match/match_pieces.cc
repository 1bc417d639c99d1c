// A/B matching: each waiting A piece is paired with the first waiting B piece that begins 0 to
// MATCH_SPAN lines after it and has a similar width; the pair goes to the writer when it keeps the
// order of the A pieces, and both pieces are freed. Pieces that can no longer find a partner are
// freed on the way. Single-threaded.
#include "match/match_pieces.h"

#include <cmath>
#include <cstdlib>

#include "base/trace.h"
#include "match/match_run.h"
#include "match/pool.h"

namespace quorda {

namespace {

// Written to the error stream for a pair whose A piece begins before that of the last pair
// written; the pair is not written.
constexpr const char* kOutOfOrderText = "C";

constexpr int kMaxWidthDiff = 5;
constexpr float kMaxRatio = 1.5f;
// The lower bound is the single-precision value nearest to 2/3, so that 10/15 and 2/3 pass.
constexpr float kMinRatio = 2.0f / 3.0f;

}  // namespace

bool pieces_match(const MatchRun& ctx, const Piece& a, const Piece& b) {
  const int wa = a.width;
  const int wb = b.width;
  if (wa == 0 || wb == 0) {
    trace_queue(ctx.diag, "*** match Error: W1= %d, W2= %d\n", wa, wb);
    return false;
  }
  if (std::abs(wa - wb) > kMaxWidthDiff) return false;
  const float ratio = static_cast<float>(wa) / static_cast<float>(wb);
  if (ratio > kMaxRatio || ratio < kMinRatio) return false;
  // B must lie later than A on the whole: a B piece on exactly the lines of A is not its partner.
  const double d1 = std::trunc(b.first_line - a.first_line);
  const double d2 = std::trunc(b.last_line - a.last_line);
  return d1 + d2 > 0.0;
}

bool chrono_write_check(const MatchRun& ctx, const Piece& a) {
  double& last = ctx.matcher.last_match_line;
  if (!(a.first_line < last)) {
    last = a.first_line;
    return true;
  }
  trace_queue(ctx.diag, "\nFind_m -> Chronology - Error ");
  errf(ctx.diag, "%s", kOutOfOrderText);
  return false;
}

void match_pieces(const MatchRun& ctx, int32_t* total, double newest_a) {
  int32_t matched = 0;
  const double limit = newest_a - MATCH_SPAN;
  CamQueues& qa = ctx.queues_a;
  CamQueues& qb = ctx.queues_b;
  Piece* a = qa.wait_tail;
  while (a != nullptr) {
    Piece* a_follow = a->prev;
    // This A piece and all newer ones wait until camera A has read MATCH_SPAN lines beyond them.
    if (a->first_line > limit) break;
    Piece* b = qb.wait_tail;
    while (b != nullptr) {
      Piece* b_follow = b->prev;
      const double ta = a->first_line;
      const double tb = b->first_line;
      if (tb - MATCH_SPAN > ta) {
        // Every later B piece begins later still: a cannot be matched any more.
        unlink_wait(ctx.pool, ctx.diag, a, qa);
        break;
      }
      if (ta > tb) {
        // b began before a and so before every later A piece.
        unlink_wait(ctx.pool, ctx.diag, b, qb);
        b = b_follow;
        continue;
      }
      if (pieces_match(ctx, *a, *b)) {
        ++*total;
        ++matched;
        if (chrono_write_check(ctx, *a)) ctx.sink.take(*a, *b);
        unlink_wait(ctx.pool, ctx.diag, a, qa);
        unlink_wait(ctx.pool, ctx.diag, b, qb);
        break;
      }
      b = b_follow;
    }
    a = a_follow;
  }
  trace_queue(ctx.diag, "** find_m - matched: %d\n", matched);
  trace_queue(ctx.diag, "** find_m: ");
  if constexpr (kTraceQueue) trace_pool_map(ctx.pool, ctx.diag);
}

}  // namespace quorda
