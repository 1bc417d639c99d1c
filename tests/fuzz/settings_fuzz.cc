// Fuzz harness of the settings reader: one input is the settings file, read as a run reads it
// (HYD_PATH first, then every setting). A missing key ends the run, which the harness expects.
#include "app/settings.h"
#include "base/run_end.h"
#include "fuzz/fuzz_support.h"

namespace quorda::fuzz {

int settings(const uint8_t* data, size_t size) {
  static const Folder folder;
  folder.put("QUORDA.SET", {true, {data, size}});
  // One context for all inputs: the readers overwrite what they read.
  static testing::FakePlatform platform;
  static const std::unique_ptr<RunContext> ctx = quiet_context(&platform, folder.path());
  try {
    read_hyd_path(*ctx);
    read_settings(*ctx);
  } catch (const RunEnd&) {
  }
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(settings)
