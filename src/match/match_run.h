// What the matching routines read and change, handed to them by the run: the piece pool, the
// queues of both cameras, the matcher's chronology mark, and the sink that takes matched pairs.
#pragma once

#include "base/diagnostics.h"
#include "match/match_state.h"
#include "match/piece.h"

namespace quorda {

// Takes every matched pair whose A piece passed the chronology test, in the order of matching.
class PairSink {
 public:
  virtual ~PairSink() = default;
  virtual void take(const Piece& a, const Piece& b) = 0;
};

struct MatchRun {
  Diag& diag;
  Pool& pool;
  CamQueues& queues_a;
  CamQueues& queues_b;
  Matcher& matcher;
  PairSink& sink;
};

}  // namespace quorda
