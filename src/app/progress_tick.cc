// The progress tick: the four-line console summary and the operator's ESC or a termination
// signal.
//
// The summary and the keyboard are looked at no more than ten times a second, so that neither a
// slow terminal nor a redirected standard output holds the run back and a tick costs no system
// call in between. The first tick always draws; the driver draws once more at the end.
#include "app/progress_tick.h"

#include <csignal>
#include <cstdio>

#include "app/frame_state.h"
#include "base/run_end.h"
#include "base/trace.h"

namespace quorda {

namespace {

constexpr double kRedrawInterval = 0.1;  // seconds
constexpr int kSummaryRow = 14;          // just below the banner
// The summary: hydrometeor file and its length, raw file and its length, the two cursors.
constexpr char kSummaryFormat[] = "%s:%9ld\n%s:%9ld\nA:%9ld\nB:%9ld\n";
// The exit status of a run ended by a signal other than SIGINT and SIGTERM: 128 + its number.
constexpr int kSignalStatusBase = 128;

void draw_at(Platform& platform, Diag& diag, TickState& tick, const ProgressFigures& f, double now) {
  tick.last_draw = now;
  // With tracing on the summary stands where the trace lines have brought the cursor.
  if constexpr (!kTraceMain) platform.move_cursor(kSummaryRow, 0);
  outf(diag, kSummaryFormat, f.hyd_path.c_str(), static_cast<long>(f.hyd_length), f.raw_path.c_str(),
       static_cast<long>(f.raw_length), static_cast<long>(f.pos_a), static_cast<long>(f.pos_b));
  std::fflush(diag.out);
}

int signal_status(int sig) {
  if (sig == SIGINT) return kExitSigint;
  if (sig == SIGTERM) return kExitSigterm;
  return kSignalStatusBase + sig;
}

}  // namespace

bool progress_tick(Platform& platform, Diag& diag, TickState& tick, const ProgressFigures& figures) {
  if (int sig = platform.pending_signal(); sig != 0) {
    tick.cancel_status = signal_status(sig);
    return false;
  }
  const double now = platform.now_precise();
  if (now < tick.last_draw + kRedrawInterval) return true;
  draw_at(platform, diag, tick, figures, now);
  if (platform.poll_key() == kKeyEsc) {
    tick.cancel_status = kExitOk;
    return false;
  }
  return true;
}

void draw_summary(Platform& platform, Diag& diag, TickState& tick, const ProgressFigures& figures) {
  draw_at(platform, diag, tick, figures, platform.now_precise());
}

}  // namespace quorda
