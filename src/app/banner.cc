// The start-up banner: eleven fixed lines below a cleared console, then a short pause so that the
// operator can read them.
#include "app/banner.h"

#include <cstdio>

#include "app/run_context.h"

namespace quorda {

namespace {

constexpr const char* kBanner[] = {
    "\n    ====================================================================\n",
    "    |                                                                  |\n",
    "    |         T H E   T A R N E V O                                    |\n",
    "    |                                                                  |\n",
    "    |      MIRELTON                                                    |\n",
    "    |                                                                  |\n",
    "    |      (Mar. 23, 2010, 00:17 internal version no. 8.002)           |\n",
    "    |                                                                  |\n",
    "    |                                                         HALDRIM  |\n",
    "    ====================================================================\n",
    "\n\n",
};

// The pause lasts until the whole-second clock shows two seconds more than at its start (one to
// two seconds). The poll interval, and a bound on the number of polls in case the clock stands
// still or jumps back.
constexpr double kPausePoll = 0.1;
constexpr int kPauseMaxPolls = 25;

}  // namespace

void show_banner(RunContext& ctx) {
  ctx.platform.clear_console();
  for (const char* line : kBanner) outf(ctx.diag, "%s", line);
  std::fflush(ctx.diag.out);
  // Nobody reads a banner that goes to a file or a pipe.
  if (!ctx.platform.stdout_is_terminal()) return;
  int64_t start = ctx.platform.now();
  for (int i = 0; i < kPauseMaxPolls && ctx.platform.now() < start + 2 && ctx.platform.pending_signal() == 0;
       ++i) {
    ctx.platform.sleep_seconds(kPausePoll);
  }
}

}  // namespace quorda
