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

// A line number that does not exceed the highest one accepted ends the run; a resumed run on the
// same files would stop at the same place, hence the request to rename the set.
[[noreturn, gnu::cold]] void falling_line(const RawinRun& ctx, bool cam_a, double highest_line, int i,
                                          double y) {
  if (cam_a) {
    errf(ctx.diag, kFallingLineA, highest_line, i, y);
    errf(ctx.diag, kTimeJumpA);
  } else {
    errf(ctx.diag, kFallingLineB, y);
    errf(ctx.diag, kTimeJumpB);
  }
  fatal(ctx.diag, kRenameOrDeleteSet);
}

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

  // Line numbers must rise strictly within a camera over the whole run. When the block's lines
  // are known to rise, only its first line can fail, and the last one is the highest.
  if (block.rising) {
    const double y = block.lines[0].y_count;
    if (!(y > highest_line)) falling_line(ctx, cam_a, highest_line, 0, y);
    highest_line = block.lines[block.n_lin - 1].y_count;
    return;
  }
  for (int i = 0; i < block.n_lin; ++i) {
    const double y = block.lines[i].y_count;
    if (!(y > highest_line)) falling_line(ctx, cam_a, highest_line, i, y);
    highest_line = y;
  }
}

}  // namespace quorda
