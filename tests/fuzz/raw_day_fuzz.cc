// Fuzz harness of the record framing and everything behind it: a whole day converted from a raw
// file, and optionally a first run on a prefix of it that the second run resumes.
//
// Input: one mode byte (bit 0: a first run on a prefix), one byte giving the prefix as a share of
// the raw file (0 to 255 of 255), then the raw file. The work of each run is bounded by a budget
// of ticks, after which the platform reports SIGTERM. An uninterrupted run, or a resumed one whose
// first run completed, must leave a consistent output set.
#include <cstdlib>
#include <string>

#include "app/entry.h"
#include "base/run_end.h"
#include "format/check_output_set.h"
#include "fuzz/fuzz_support.h"
#include "support/test_context.h"

namespace quorda::fuzz {

namespace {

constexpr int kTickBudget = 20000;
constexpr const char* kRawName = "V26150_1.ab";

int convert(const Folder& folder) {
  BudgetPlatform platform(kTickBudget);
  auto ctx = quiet_context(&platform, folder.path());
  const std::string raw = folder.path() + kRawName;
  const char* argv[] = {"quorda", raw.c_str(), "/e"};
  return run_quorda(*ctx, 3, argv);
}

std::vector<uint8_t> bytes_of(const std::string& path) {
  const std::string s = testing::read_file(path);
  return {s.begin(), s.end()};
}

}  // namespace

int raw_day(const uint8_t* data, size_t size) {
  const Folder& folder = conversion_folder();
  if (size < 2) return 0;
  const bool resumed = (data[0] & 1) != 0;
  const std::span<const uint8_t> raw(data + 2, size - 2);
  folder.clear_outputs();
  bool all_completed = true;
  if (resumed) {
    const size_t cut = raw.size() * data[1] / 255;
    folder.put(kRawName, {true, raw.first(cut)});
    all_completed = convert(folder) == kExitOk;
  }
  folder.put(kRawName, {true, raw});
  all_completed = convert(folder) == kExitOk && all_completed;
  if (all_completed) {
    const std::vector<uint8_t> hyd = bytes_of(folder.path() + "V26150_1.hyd");
    const std::vector<uint8_t> hd = bytes_of(folder.path() + "V26150_1.hd");
    const std::vector<uint8_t> abh = bytes_of(folder.path() + "V26150_1.abh");
    const HydWalk walk = walk_hyd(hyd);
    const std::vector<std::string> faults = check_output_set(walk, {hyd, hd, abh});
    if (!faults.empty()) {
      std::fprintf(stderr, "completed run left an inconsistent set: %s\n", faults.front().c_str());
      std::abort();
    }
  }
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(raw_day)
