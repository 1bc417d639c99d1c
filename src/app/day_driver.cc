// The day driver: walks the raw file with one cursor per camera, one pass per call.
//
// A pass reads camera A up to and including its next line block, then camera B until B's line
// time has caught up with A's (or to the end of the data once A is there), and then lets the
// matcher pair the finished pieces. Main headers met by either cursor go, after a save of the
// writer's buffer, to take_main_header, which takes each one once. The end of the raw file is measured
// anew whenever a cursor reaches the end measured last, so data appended meanwhile are read too,
// while a file that lies wholly within the known end is read without a system call per record.
//
// A record that cannot be read whole (a head cut short, a negative length, a payload reaching
// beyond the measured end) is the end of the data for that cursor: the cursor stays where it is,
// the step ends as at the end of the file, and a later run resumes there. No cursor ever moves
// backwards.
#include "app/day_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "app/banner.h"
#include "app/clean_up.h"
#include "app/progress_tick.h"
#include "app/run_context.h"
#include "app/run_files.h"
#include "app/settings.h"
#include "base/run_end.h"
#include "base/trace.h"
#include "format/raw_record.h"
#include "match/assign_pieces.h"
#include "match/match_pieces.h"
#include "match/pool.h"
#include "measure/correction_tables.h"
#include "measure/particle_writer.h"
#include "outset/set_lock.h"
#include "platform/platform.h"
#include "rawin/decode_line_block.h"
#include "rawin/minute_index.h"
#include "rawin/output_set.h"
#include "rawin/raw_file.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

// The environment variable that chooses the number of threads (README.md).
constexpr char kThreadsVariable[] = "QUORDA_THREADS";

// How long the end of the data waits for the measuring thread between looks at the keyboard.
constexpr std::chrono::milliseconds kFinalWaitStep{100};

// A write of "res" or a close of an output file failed: the run went on, but ends as failed.
bool output_failed(const RunContext& ctx) {
  return ctx.eval.res_failed || ctx.out.close_failed;
}

// Ends a run that the operator (ESC) or a signal cancelled: no final save (the buffer is not
// written), but the heads are committed for what the files hold, and the files are closed. The
// measuring thread stops where it has got to.
[[noreturn]] void cancel_run(RunContext& ctx) {
  ctx.measuring_thread.cancel();
  if (ctx.framing.hyd_unsynced) ctx.particle_writer.commit_heads(true);
  clean_up(ctx);
  const int status = ctx.tick.cancel_status;
  end_run(status == kExitOk && output_failed(ctx) ? kExitFatal : status);
}

// What the progress summary shows, as the driver has it now (the hydrometeor file's length as the
// measuring thread last left it).
ProgressFigures progress_figures(const RunContext& ctx) {
  return {ctx.out.hyd_name,      ctx.measuring_thread.hyd_length(),
          ctx.raw.raw_file_path, ctx.drv.rawend,
          ctx.drv.pos_a,         ctx.drv.pos_b};
}

// One progress tick; a cancelled run ends here.
void tick(RunContext& ctx) {
  if (!progress_tick(ctx.platform, ctx.diag, ctx.tick, progress_figures(ctx))) cancel_run(ctx);
}

// Whether a record head at `pos` lies before the end of the raw file. The end is measured again
// only when the end measured last does not already leave room.
bool before_end(RunContext& ctx, int32_t pos, const char* end_tag) {
  if (pos < ctx.drv.rawend) return true;
  update_raw_end(ctx.rawin_part(), end_tag);
  return pos < ctx.drv.rawend;
}

// One camera's cursor and what the driver keeps for it.
struct CameraCursor {
  Camera camera;
  int16_t lines_kind;  // record kind of the camera's line blocks
  RawCursor& cursor;
  int32_t& pos;   // next block head
  int32_t& prev;  // block head read last
  double& last;   // y_count of the last line of the last block
  CamQueues& queues;
  const char* read_tag;  // tag of a failed read at this cursor
  const char* end_tag;   // tag of a failed measurement of the file's end
};

// Tags of a failed read at each camera's cursor and of a failed measurement of the raw file's end.
constexpr char kReadTagA[] = "mp02";
constexpr char kReadTagB[] = "mp04";
constexpr char kEndTagA[] = "mp71";
constexpr char kEndTagB[] = "mp72";

CameraCursor camera_a(RunContext& ctx) {
  DriverState& d = ctx.drv;
  return {Camera::kA, kKindLinesA,  d.cursor_a, d.pos_a, d.prev_a,
          d.last_a,   ctx.queues_a, kReadTagA,  kEndTagA};
}

CameraCursor camera_b(RunContext& ctx) {
  DriverState& d = ctx.drv;
  return {Camera::kB, kKindLinesB,  d.cursor_b, d.pos_b, d.prev_b,
          d.last_b,   ctx.queues_b, kReadTagB,  kEndTagB};
}

void trace_block_head(RunContext& ctx, Camera camera, const RawRecord& rec) {
  const DriverState& d = ctx.drv;
  if (camera == Camera::kA) {
    hprintf(ctx.diag, "pos_a=%ld prev_a=%ld last_a=%lf pos_b=%ld last_b=%lf \n", d.pos_a, d.prev_a, d.last_a,
            d.prev_b, d.last_b);
  } else {
    hprintf(ctx.diag, "hd_nam=%s pos_b=%ld last_b=%lf pos_a=%ld last_a=%lf \n", ctx.out.hd_name, d.prev_b,
            d.last_b, d.prev_a, d.last_a);
  }
  hprintf(ctx.diag, "A_B_ident=%d \n", rec.kind);
  hprintf(ctx.diag, "cmpr_n=%d \n", rec.payload_len);
}

// A main header met by either cursor: the writer's buffer goes to the hydrometeor file first, so
// that the records written before the header stay before it. The next timed save commits both.
// The save waits for the measuring thread, which stays idle while the header is taken.
void take_main_header(RunContext& ctx, const RawRecord& rec) {
  ctx.measuring_thread.save(SaveKind::kAppend);
  take_main_header(ctx.rawin_part(), rec.payload, rec.payload_len);
}

// Decodes a line block of one camera, cuts it into pieces and enters its minutes. A block whose line
// numbers fall is stepped over (take_block_lines).
void take_line_block(RunContext& ctx, const RawRecord& rec, CameraCursor& cam) {
  int16_t n_lin = 0;
  if (!decode_line_block(ctx.dec, ctx.diag, rec.payload, rec.payload_len, &n_lin) || n_lin <= 0) return;
  LineBlock block{static_cast<int16_t>(std::min<int>(n_lin, kLineBufLines)), ctx.dec.line_buf,
                  ctx.dec.lines_rise};
  if (!take_block_lines(ctx.rawin_part(), cam.camera, block)) return;
  assign_pieces(ctx.match_part(), block, cam.queues);
  chain_queues(ctx.pool, ctx.diag, cam.queues);
  cam.last = block.lines[block.n_lin - 1].y_count;
  const MinuteIndex& mi = ctx.minutes;
  const bool cam_a = cam.camera == Camera::kA;
  const int minute_before = cam_a ? mi.last_minute_a : mi.last_minute_b;
  mark_minute(ctx.rawin_part(), cam.camera, block);
  const int minute_after = cam_a ? mi.last_minute_a : mi.last_minute_b;
  // The new entries, for the copy of the index that the measuring thread commits.
  if (minute_after > minute_before)
    ctx.measuring_thread.mark_minutes(cam.camera, minute_before + 1, minute_after,
                                      cam_a ? ctx.drv.prev_a : ctx.drv.prev_b);
}

enum class Took { kEndOfData, kRecord, kLineBlock };

// Reads and handles the record at the camera's cursor. kEndOfData when the cursor's data end there
// (the cursor then stays where it is). A record that reaches beyond the end measured last is read
// again after a new measurement.
// REQUIRES: cam.pos < rawend.
Took take_record(RunContext& ctx, CameraCursor& cam) {
  RawRecord rec;
  ReadStatus st = cam.cursor.read(ctx.raw.raw_file, cam.pos, ctx.drv.rawend, &rec);
  if (st == ReadStatus::kShortHead || st == ReadStatus::kBeyondEnd) {
    update_raw_end(ctx.rawin_part(), cam.end_tag);
    st = cam.cursor.read(ctx.raw.raw_file, cam.pos, ctx.drv.rawend, &rec);
  }
  if (st != ReadStatus::kOk) {
    if (st == ReadStatus::kIoError) report_tag(ctx.diag, cam.read_tag);
    return Took::kEndOfData;
  }
  trace_block_head(ctx, cam.camera, rec);
  cam.prev = cam.pos;
  cam.pos += rec.payload_len + static_cast<int32_t>(kRecordHeadSize);
  if (rec.kind == kKindMainHeader) {
    take_main_header(ctx, rec);
  } else if (rec.kind == cam.lines_kind) {
    take_line_block(ctx, rec, cam);
    return Took::kLineBlock;
  }
  return Took::kRecord;
}

}  // namespace

void start_day(RunContext& ctx) {
  make_time_zone_free();
  read_settings(ctx);
  open_raw_file(ctx.rawin_part());
}

namespace {

void first_pass(RunContext& ctx) {
  DriverState& d = ctx.drv;
  d.first_pass = false;
  show_banner(ctx);
  refuse_irregular_inputs(ctx);
  load_correction_tables(ctx.measure_part(), ctx.cmd.calib);
  read_hyd_path(ctx);
  label_queues(ctx.queues_a, ctx.queues_b);
  start_day(ctx);
  tick(ctx);
  hprintf(ctx.diag, "\n mp_nam=%s \n", ctx.raw.raw_file_path);
  name_output_set(ctx.rawin_part());
  refuse_unsafe_outputs(ctx);
  lock_output_set(*ctx.files, ctx.diag, ctx.out);
  open_output_set(ctx.rawin_part());
}

// Camera A: records up to and including one line block.
void step_a(RunContext& ctx) {
  DriverState& d = ctx.drv;
  CameraCursor cam = camera_a(ctx);
  bool at_end = false;
  while (before_end(ctx, d.pos_a, cam.end_tag)) {
    Took took = take_record(ctx, cam);
    if (took == Took::kEndOfData) at_end = true;
    if (took != Took::kRecord) break;
  }
  if (at_end || !before_end(ctx, d.pos_a, cam.end_tag)) d.eof_a = true;
  hprintf(ctx.diag, "hd_nam=%s pos_a=%ld, rawend=%ld, raw_day=%ld, pix_day=%ld \n", ctx.out.hd_name, d.pos_a,
          d.rawend, ctx.raw.raw_day, ctx.out.hyd_day);
}

// Camera B: records until B's line time has caught up with A's, or all of them once A is at its
// end. Returns false when the pass must end here (B waits for more data while A goes on).
bool step_b(RunContext& ctx) {
  DriverState& d = ctx.drv;
  CameraCursor cam = camera_b(ctx);
  while (d.last_b < d.last_a || d.eof_a) {
    tick(ctx);
    bool at_end = !before_end(ctx, d.pos_b, cam.end_tag) || take_record(ctx, cam) == Took::kEndOfData ||
                  !before_end(ctx, d.pos_b, cam.end_tag);
    if (at_end) {
      hprintf(ctx.diag, "B: EOF found at %ld\n", d.rawend);
      if (d.eof_a) {
        d.eof_b = true;
        return true;
      }
      hprintf(ctx.diag, "feof found reading B\n");
      return false;
    }
  }
  return true;
}

// One pass. The run ends inside a pass, through end_run.
void run_pass(RunContext& ctx) {
  DriverState& d = ctx.drv;
  hprintf(ctx.diag, "makepix enc.: hd_nam=%s \n", ctx.out.hd_name);
  const bool first = d.first_pass;
  if (first) first_pass(ctx);

  int64_t now = ctx.platform.now();
  // Measuring and writing go to a second thread from here on, where the run has one.
  if (first)
    ctx.measuring_thread.begin(ctx.threads > 0 ? ctx.threads : run_threads(std::getenv(kThreadsVariable)),
                               ctx.minutes, now);
  ctx.measuring_thread.set_clock(now);
  if (now > d.last_write_time + kSaveIntervalSeconds) {
    d.last_write_time = now;
    ctx.measuring_thread.save(SaveKind::kCommit);
  }

  tick(ctx);

  hprintf(ctx.diag, "pos_a=%ld rawend=%ld maincnt=%d \n", d.pos_a, d.rawend, ctx.hdr.main_count);

  step_a(ctx);
  if (!step_b(ctx)) return;

  if (ctx.queues_a.wait_tail != nullptr && ctx.queues_b.wait_tail != nullptr) {
    hprintf(ctx.diag, "calling findmatch\n");
    match_pieces(ctx.match_part(), &d.total, d.last_a);
    hprintf(ctx.diag, "total=%ld pix_end=%ld\n", d.total, ctx.out.hyd_end);
  }

  if (d.eof_a && d.eof_b) {
    // The writer finishes what it was handed; meanwhile the keyboard and signals are looked at as
    // during the reading, so that an ESC pressed while it works still cancels the run.
    while (!ctx.measuring_thread.drain_for(kFinalWaitStep)) tick(ctx);
    report_held_blocks(ctx.rawin_part());
    ctx.particle_writer.save_final();
    draw_summary(ctx.platform, ctx.diag, ctx.tick, progress_figures(ctx));
    clean_up(ctx);
    end_run(output_failed(ctx) ? kExitFatal : kExitOk);
  }
  if (d.pos_a == d.rawend) hprintf(ctx.diag, "EOF reading A \n");
}

// A run ended by what the raw data hold (not by a failed file operation) first saves the particles
// converted before, once the output set is open: the measuring thread finishes what it was handed,
// and the final save appends the buffer and commits the heads for what the files then hold, so
// that a later run resumes after them. A failure of that save ends the run in its place.
[[noreturn]] void save_before_fault(RunContext& ctx, const RunEnd& fault) {
  if (fault.status == kExitFatal && !fault.file_failure && ctx.out.abh_stream.is_open()) {
    ctx.measuring_thread.stop();
    ctx.particle_writer.save_final();
  }
  throw fault;
}

}  // namespace

void run_day(RunContext& ctx) {
  try {
    for (;;) run_pass(ctx);
  } catch (const RunEnd& e) {
    save_before_fault(ctx, e);
  }
}

}  // namespace quorda
