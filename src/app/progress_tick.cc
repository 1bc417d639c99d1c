// The progress tick: the last start-up steps on the first call, the four-line console summary
// and the operator's ESC or a termination signal.
//
// The summary and the keyboard are looked at no more than ten times a second, so that neither a
// slow terminal nor a redirected standard output holds the run back and a tick costs no system
// call in between. The first tick always draws; the driver draws once more at the end.
#include "app/progress_tick.h"

#include <csignal>
#include <cstdio>

#include "app/run_context.h"
#include "app/settings.h"
#include "base/run_end.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "rawin/raw_file.h"

namespace quorda {

namespace {

constexpr double kRedrawInterval = 0.1;  // seconds
constexpr int kSummaryRow = 14;          // just below the banner

void draw_at(RunContext& ctx, double now) {
  ctx.tick.last_draw = now;
  // With tracing on the summary stands where the trace lines have brought the cursor.
  if constexpr (!kTraceMain) ctx.platform->move_cursor(kSummaryRow, 0);
  outf(ctx.diag, "%s:%9ld\n%s:%9ld\nA:%9ld\nB:%9ld\n", ctx.out.pix_nam.c_str(),
       static_cast<long>(ctx.out.pix_end), ctx.raw.mp_nam.c_str(), static_cast<long>(ctx.drv.rawend),
       static_cast<long>(ctx.drv.pos_a), static_cast<long>(ctx.drv.pos_b));
  std::fflush(ctx.diag.out);
}

int signal_status(int sig) {
  if (sig == SIGINT) return kExitSigint;
  if (sig == SIGTERM) return kExitSigterm;
  return 128 + sig;
}

}  // namespace

int progress_tick(RunContext& ctx) {
  TickState& t = ctx.tick;
  if (t.first_tick == 1) {
    make_time_zone_free();
    t.first_tick = 0;
    read_settings(ctx);
    open_raw_file(ctx);
  }
  if (int sig = ctx.platform->pending_signal(); sig != 0) {
    t.cancel_status = signal_status(sig);
    return 0;
  }
  double now = ctx.platform->now_precise();
  if (now < t.last_draw + kRedrawInterval) return 1;
  draw_at(ctx, now);
  if (ctx.platform->poll_key() == kKeyEsc) {
    t.cancel_status = kExitOk;
    return 0;
  }
  return 1;
}

void draw_summary(RunContext& ctx) {
  draw_at(ctx, ctx.platform->now_precise());
}

}  // namespace quorda
