// Fuzz harness of the record framing and everything behind it: a whole day converted from a raw
// file, and optionally a first run on a prefix of it that the second run resumes. The raw file and
// the output set lie on a disk in memory.
//
// Input: one mode byte (bit 0: a first run on a prefix), one byte giving the prefix as a share of
// the raw file (0 to 255 of 255), then the raw file. The work of each run is bounded by a budget
// of ticks, after which the platform reports SIGTERM. An uninterrupted run, or a resumed one whose
// first run completed, must leave a consistent output set.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/run_end.h"
#include "fuzz/fuzz_support.h"
#include "outset/check_output_set.h"

namespace quorda::fuzz {

namespace {

constexpr int kTickBudget = 20000;

}  // namespace

int raw_day(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Conversions& runs = conversions();
  const bool resumed = (data[0] & 1) != 0;
  const std::span<const uint8_t> raw(data + 2, size - 2);
  runs.clear();
  bool all_completed = true;
  if (resumed) {
    const size_t cut = raw.size() * data[1] / 255;
    runs.put(kRawName, {true, raw.first(cut)});
    all_completed = runs.convert(kTickBudget) == kExitOk;
  }
  runs.put(kRawName, {true, raw});
  all_completed = runs.convert(kTickBudget) == kExitOk && all_completed;
  if (all_completed) {
    const OutputSetBytes set{runs.bytes("V26150_1.hyd"), runs.bytes("V26150_1.hd"),
                             runs.bytes("V26150_1.abh")};
    const HydWalk walk = walk_hyd(set.hyd);
    const std::vector<std::string> faults = check_output_set(walk, set);
    if (!faults.empty()) {
      std::fprintf(stderr, "completed run left an inconsistent set: %s\n", faults.front().c_str());
      std::abort();
    }
  }
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(raw_day)
