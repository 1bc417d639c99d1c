// Mixing the runs of the particles that shadow one camera line.
#include "sim/line_mixer.h"

#include <algorithm>

namespace quorda::sim {

namespace {
void join(OwnedRun& into, const OwnedRun& from) {
  into.run.end = std::max(into.run.end, from.run.end);
  if (into.owner != from.owner) {
    into.owner->merged = true;
    from.owner->merged = true;
  }
}
}  // namespace

void mix_line(OwnedRun* runs, int n, LineRecord* line, SimDrop* owners[kMaxRuns]) {
  std::sort(runs, runs + n, [](const OwnedRun& a, const OwnedRun& b) {
    if (a.run.start != b.run.start) return a.run.start < b.run.start;
    if (a.run.end != b.run.end) return a.run.end < b.run.end;
    return a.owner->id < b.owner->id;
  });
  // Overlapping and touching runs are one shadow.
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (m > 0 && runs[i].run.start <= runs[m - 1].run.end) {
      join(runs[m - 1], runs[i]);
    } else {
      runs[m++] = runs[i];
    }
  }
  // More than six runs: close the narrowest gap until six remain.
  while (m > kMaxRuns) {
    int best = 1;
    for (int i = 2; i < m; ++i)
      if (runs[i].run.start - runs[i - 1].run.end < runs[best].run.start - runs[best - 1].run.end) best = i;
    join(runs[best - 1], runs[best]);
    std::copy(runs + best + 1, runs + m, runs + best);
    --m;
  }
  *line = LineRecord{};
  line->n_runs = static_cast<int16_t>(m);
  for (int i = 0; i < m; ++i) {
    line->runs[i] = runs[i].run;
    owners[i] = runs[i].owner;
  }
}

void mark_touching(const LineRecord& prev, SimDrop* const prev_owners[kMaxRuns], const LineRecord& line,
                   SimDrop* const owners[kMaxRuns]) {
  for (int i = 0; i < line.n_runs; ++i) {
    for (int k = 0; k < prev.n_runs; ++k) {
      if (prev_owners[k] == owners[i]) continue;
      if (prev.runs[k].start <= line.runs[i].end && prev.runs[k].end >= line.runs[i].start) {
        prev_owners[k]->merged = true;
        owners[i]->merged = true;
      }
    }
  }
}

}  // namespace quorda::sim
