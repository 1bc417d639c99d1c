// Fuzz harness of the correction-table reader: one input is corrfact.dat. A file that gives no
// usable factors ends the run, which the harness expects.
#include "base/run_end.h"
#include "fuzz/fuzz_support.h"
#include "measure/correction_tables.h"

namespace quorda::fuzz {

int corrfact(const uint8_t* data, size_t size) {
  static const Folder folder;
  folder.put("corrfact.dat", {true, {data, size}});
  // One context for all inputs: the readers overwrite what they read.
  static testing::FakePlatform platform;
  static const std::unique_ptr<RunContext> ctx = quiet_context(&platform, folder.path());
  try {
    load_correction_tables(ctx->measure_part(), ctx->cmd.calib != 0);
  } catch (const RunEnd&) {
  }
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(corrfact)
