// Fuzz harness of the recovery planner of an output set: the .hyd, .hd and .abh files given as bytes
// (each absent when the input ends before it) and a raw file whose length bounds the index file's
// positions. A plan that does not declare the set damaged keeps only bytes the files hold, and the
// stream it keeps is whole records that the walker accepts.
#include <cstdio>
#include <cstdlib>

#include "base/constants.h"
#include "format/hyd_walker.h"
#include "format/output_set_heads.h"
#include "fuzz/fuzz_support.h"
#include "outset/recover_output_set.h"

namespace quorda::fuzz {

int recovery(const uint8_t* data, size_t size) {
  const std::vector<InputFile> files = split_files(data, size, 4);
  SetOnDisk set;
  set.hyd_exists = files[0].present;
  set.hd_exists = files[1].present;
  set.abh_exists = files[2].present;
  set.hyd = files[0].bytes;
  set.hd = files[1].bytes;
  set.abh = files[2].bytes;
  set.raw_size = static_cast<int64_t>(files[3].bytes.size());
  const RecoveryPlan plan = plan_recovery(set);
  if (plan.damaged) return 0;
  const auto fail = [](const char* what) {
    std::fprintf(stderr, "recovery plan: %s\n", what);
    std::abort();
  };
  if (plan.hyd_keep < 0 || static_cast<size_t>(plan.hyd_keep) > set.hyd.size())
    fail("keeps bytes the .hyd lacks");
  if (plan.hyd_keep + plan.hyd_cut_bytes != static_cast<int64_t>(set.hyd.size())) fail("kept and cut bytes");
  if (!plan.new_hd && (plan.hd_keep < 0 || static_cast<size_t>(plan.hd_keep) > set.hd.size()))
    fail("keeps bytes the .hd lacks");
  if (!plan.new_hd && plan.hd_head.size() != kHdHeadSize) fail("header file head of the wrong size");
  if (!walk_hyd(set.hyd.first(static_cast<size_t>(plan.hyd_keep))).ok())
    fail("kept stream is not whole records");
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(recovery)
