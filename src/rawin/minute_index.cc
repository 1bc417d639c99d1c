// The per-camera minute index of the raw file and the rising-line-number check.
//
// minute_pos_a / minute_pos_b map each minute of the day to the raw-file position of the block in which that
// camera first reached the minute; a later run resumes from these entries. Entries once set (in
// this run or loaded from the index file) are never replaced. Single-threaded.
#include "rawin/minute_index.h"

#include "base/trace.h"
#include "format/minute_table.h"
#include "rawin/rawin_run.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

// A line number of camera A or B that does not rise.
constexpr char kFallingLineA[] = "old_a=%lf line_buf[%d].y_count=%lf \n";
constexpr char kTimeJumpA[] = "neg. time jump in A \n";
constexpr char kFallingLineB[] = "y_count=%lf\n";
constexpr char kTimeJumpB[] = "neg. time jump in B \n";

}  // namespace

void mark_minute(const RawinRun& ctx, Camera camera, const LineBlock& block) {
  if (camera != Camera::kA && camera != Camera::kB) return;
  if (block.n_lin <= 0 || block.lines == nullptr) return;
  MinuteIndex& mi = ctx.minutes;
  const bool cam_a = camera == Camera::kA;
  int32_t* minute_pos = cam_a ? mi.minute_pos_a : mi.minute_pos_b;
  int16_t& last_minute = cam_a ? mi.last_minute_a : mi.last_minute_b;
  double& highest_line = cam_a ? mi.highest_line_a : mi.highest_line_b;
  const int32_t prev = cam_a ? ctx.drv.prev_a : ctx.drv.prev_b;

  int minute = minute_of_line(block.lines[0].y_count, ctx.hdr.line_fr);
  if (minute > last_minute) {
    for (int m = last_minute + 1; m <= minute; ++m) {
      if (minute_pos[m] == 0) minute_pos[m] = prev;
    }
    last_minute = static_cast<int16_t>(minute);
    hprintf(ctx.diag, cam_a ? "posa_bf[%d]=%ld \n" : "posb_bf[%d]=%ld \n", minute, minute_pos[minute]);
    hprintf(ctx.diag, "lastpix_y=%lu \n", ctx.writer.last_saved_line);
    hprintf(ctx.diag, "minut_a=%d prev_a=%ld pos_a=%ld \n", mi.last_minute_a, ctx.drv.prev_a, ctx.drv.pos_a);
    hprintf(ctx.diag, "minut_b=%d prev_b=%ld pos_b=%ld \n", mi.last_minute_b, ctx.drv.prev_b, ctx.drv.pos_b);
  }

  // Line numbers must rise strictly within a camera over the whole run; a resumed run on the
  // same files would stop at the same place, hence the request to rename the set.
  for (int i = 0; i < block.n_lin; ++i) {
    const double y = block.lines[i].y_count;
    if (y > highest_line) {
      highest_line = y;
      continue;
    }
    if (cam_a) {
      errf(ctx.diag, kFallingLineA, highest_line, i, y);
      errf(ctx.diag, kTimeJumpA);
    } else {
      errf(ctx.diag, kFallingLineB, y);
      errf(ctx.diag, kTimeJumpB);
    }
    fatal(ctx.diag, kRenameOrDeleteSet);
  }
}

}  // namespace quorda
