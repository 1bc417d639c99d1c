// The program's entry. (Placeholder: runs the day driver until the run ends.)
#include "frame/entry.h"

#include "common/run_end.h"
#include "frame/day_driver.h"
#include "frame/run_context.h"

namespace quorda {

int quorda_main(int, const char* const*, Platform& platform) {
  auto ctx = make_run_context(&platform);
  try {
    while (makepix(*ctx) != 0) {
    }
  } catch (const RunEnd& e) {
    return e.status;
  }
  return kExitOk;
}

}  // namespace quorda
