// The per-camera minute index of the raw file and the rising-line-number check.
//
// minute_pos_a / minute_pos_b map each minute of the day to the raw-file position of the block in which that
// camera first reached the minute; a later run resumes from these entries. Entries once set (in
// this run or loaded from the index file) are never replaced. Single-threaded.
//
// Line numbers must rise strictly within a camera over the whole run. One block that falls, with
// the camera's next block rising on from before it, is damage confined to that block (a flipped
// bit in its line numbers or its frame): it is stepped over, so that the rest of the day is still
// converted. Two falling blocks in a row are line numbers gone back for good; the set cannot take
// what follows, and the run ends.
#include "rawin/minute_index.h"

#include "base/diagnostics.h"
#include "base/trace.h"
#include "format/minute_table.h"
#include "rawin/rawin_run.h"

namespace quorda {

namespace {

// A line number of camera A or B that does not rise.
constexpr char kFallingLineA[] = "old_a=%lf line_buf[%d].y_count=%lf \n";
constexpr char kTimeJumpA[] = "neg. time jump in A \n";
constexpr char kFallingLineB[] = "y_count=%lf\n";
constexpr char kTimeJumpB[] = "neg. time jump in B \n";
// A damaged block stepped over, and a falling block at the end of the data.
constexpr char kDamagedBlock[] =
    "%s: camera %c, block at byte %ld: its line numbers fall below %.0f while the next block rises "
    "above it: a damaged block, stepped over\n";
constexpr char kFallingLastBlock[] =
    "%s: camera %c, block at byte %ld: its line numbers fall below %.0f and no block follows: stepped "
    "over\n";

// The first line of the block whose number does not exceed the one before it (the camera's
// highest line before the first): its index, or -1 when every line rises. When the block's lines
// are known to rise, only its first line can fail.
int first_falling_line(const LineBlock& block, double highest_line) {
  if (block.rising) return block.lines[0].y_count > highest_line ? -1 : 0;
  double h = highest_line;
  for (int i = 0; i < block.n_lin; ++i) {
    const double y = block.lines[i].y_count;
    if (!(y > h)) return i;
    h = y;
  }
  return -1;
}

char camera_letter(bool cam_a) {
  return cam_a ? 'A' : 'B';
}

// Line numbers that went back for good end the run; the particles converted before are saved by
// the day driver.
[[noreturn, gnu::cold]] void went_back(const RawinRun& ctx, bool cam_a, double highest_line, int i, double y,
                                       int32_t held) {
  if (cam_a) {
    errf(ctx.diag, kFallingLineA, highest_line, i, y);
    errf(ctx.diag, kTimeJumpA);
  } else {
    errf(ctx.diag, kFallingLineB, y);
    errf(ctx.diag, kTimeJumpB);
  }
  fatal(ctx.diag, kWentBack, ctx.raw.raw_file_path.c_str(), camera_letter(cam_a), static_cast<long>(held));
}

}  // namespace

bool take_block_lines(const RawinRun& ctx, Camera camera, const LineBlock& block) {
  if (camera != Camera::kA && camera != Camera::kB) return false;
  if (block.n_lin <= 0 || block.lines == nullptr) return false;
  MinuteIndex& mi = ctx.minutes;
  const bool cam_a = camera == Camera::kA;
  const double highest_line = cam_a ? mi.highest_line_a : mi.highest_line_b;
  int32_t& held = cam_a ? mi.held_block_a : mi.held_block_b;
  const int i = first_falling_line(block, highest_line);
  if (i < 0) {
    if (held != kNoHeldBlock) {
      errf(ctx.diag, kDamagedBlock, ctx.raw.raw_file_path.c_str(), camera_letter(cam_a),
           static_cast<long>(held), highest_line);
      held = kNoHeldBlock;
    }
    return true;
  }
  if (held != kNoHeldBlock) went_back(ctx, cam_a, highest_line, i, block.lines[i].y_count, held);
  held = cam_a ? ctx.drv.prev_a : ctx.drv.prev_b;
  return false;
}

void report_held_blocks(const RawinRun& ctx) {
  const MinuteIndex& mi = ctx.minutes;
  for (const bool cam_a : {true, false}) {
    const int32_t held = cam_a ? mi.held_block_a : mi.held_block_b;
    if (held == kNoHeldBlock) continue;
    errf(ctx.diag, kFallingLastBlock, ctx.raw.raw_file_path.c_str(), camera_letter(cam_a),
         static_cast<long>(held), cam_a ? mi.highest_line_a : mi.highest_line_b);
  }
}

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
    hprintf(ctx.diag, "lastpix_y=%lu \n", ctx.framing.last_saved_line);
    hprintf(ctx.diag, "minut_a=%d prev_a=%ld pos_a=%ld \n", mi.last_minute_a, ctx.drv.prev_a, ctx.drv.pos_a);
    hprintf(ctx.diag, "minut_b=%d prev_b=%ld pos_b=%ld \n", mi.last_minute_b, ctx.drv.prev_b, ctx.drv.pos_b);
  }
  highest_line = block.lines[block.n_lin - 1].y_count;
}

}  // namespace quorda
