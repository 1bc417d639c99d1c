// Mixing the runs of several particles that shadow the same camera line into one line record.
//
// The camera sees one shadow per line: runs that overlap or touch become one run, and the
// instrument stores at most six runs a line, so beyond six the runs with the narrowest gaps between
// them are joined. The particles whose runs were joined are marked as merged.
#pragma once

#include "base/constants.h"
#include "format/line_record.h"
#include "sim/sim_drop.h"

namespace quorda::sim {

struct OwnedRun {
  Run run;
  SimDrop* owner = nullptr;
};

// Sorts and merges runs[0..n) (n may exceed six) into line->runs and line->n_runs; owners[k]
// receives one particle of output run k. Particles of joined runs get merged = true.
// REQUIRES: n >= 1; runs is scratch space and is reordered.
void mix_line(OwnedRun* runs, int n, LineRecord* line, SimDrop* owners[kMaxRuns]);

// Marks as merged the particles of runs of this line and of the line just before it that piece
// assignment would join (a run of the line before ends at or after a run's start and starts at or
// before its end) while they belong to different particles.
void mark_touching(const LineRecord& prev, SimDrop* const prev_owners[kMaxRuns], const LineRecord& line,
                   SimDrop* const owners[kMaxRuns]);

}  // namespace quorda::sim
