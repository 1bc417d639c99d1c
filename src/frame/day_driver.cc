// The day driver: walks the raw file with one cursor per camera, one pass per call.
//
// A pass reads camera A up to and including its next line block, then camera B until B's line
// time has caught up with A's (or to the end of the data once A is there), and then lets the
// matcher pair the finished pieces. Main headers met by either cursor go, after a save of the
// writer's buffer, to main_hr, which takes each one once. The end of the raw file is measured
// anew whenever a cursor reaches the end measured last, so data appended meanwhile are read too,
// while a file that lies wholly within the known end is read without a system call per record.
//
// A record that cannot be read whole (a head cut short, a negative length, a payload reaching
// beyond the measured end) is the end of the data for that cursor: the cursor stays where it is,
// the step ends as at the end of the file, and a later run resumes there. No cursor ever moves
// backwards.
#include "frame/day_driver.h"

#include <algorithm>

#include "common/run_end.h"
#include "frame/banner.h"
#include "frame/progress_tick.h"
#include "frame/run_context.h"
#include "frame/settings.h"
#include "frame/trace.h"
#include "match/assign_pieces.h"
#include "match/clean_up.h"
#include "match/find_m.h"
#include "match/pool.h"
#include "match/tables.h"
#include "measure/net_wr.h"
#include "rawin/decmpr.h"
#include "rawin/main_hr.h"
#include "rawin/minute_index.h"
#include "rawin/output_set.h"

namespace quorda {

namespace {

// Ends a run that the operator (ESC) or a signal cancelled: files closed, no final save.
[[noreturn]] void cancel_run(RunContext& ctx) {
  clean_up(ctx);
  end_run(ctx.tick.cancel_status);
}

// Measures the raw file; on failure rawend keeps its value.
void measure_rawend(RunContext& ctx, const char* tag) {
  bool ok = true;
  int32_t end = measure_raw_end(ctx, &ok);
  if (!ok) {
    report_tag(ctx.diag, tag);
    return;
  }
  ctx.drv.rawend = end;
}

// Whether a record head at `pos` lies before the end of the raw file. The end is measured again
// only when the end measured last does not already leave room.
bool before_end(RunContext& ctx, int32_t pos, const char* end_tag) {
  if (pos < ctx.drv.rawend) return true;
  measure_rawend(ctx, end_tag);
  return pos < ctx.drv.rawend;
}

// Reads the record at *pos for one camera. Returns false at the end of that cursor's data. A
// record that reaches beyond the end measured last is read again after a new measurement.
bool read_record(RunContext& ctx, RawCursor& cursor, int32_t pos, const char* io_tag, const char* end_tag,
                 RawRecord* rec) {
  ReadStatus st = cursor.read(ctx.raw.raw_file, pos, ctx.drv.rawend, rec);
  if (st == ReadStatus::kShortHead || st == ReadStatus::kBeyondEnd) {
    measure_rawend(ctx, end_tag);
    st = cursor.read(ctx.raw.raw_file, pos, ctx.drv.rawend, rec);
  }
  if (st == ReadStatus::kOk) return true;
  if (st == ReadStatus::kIoError) report_tag(ctx.diag, io_tag);
  return false;
}

// A main header met by either cursor: the writer saves first, so that the records written before
// the header stay before it in the hydrometeor file.
void take_main_header(RunContext& ctx, const RawRecord& rec) {
  ctx.writer.force_write = 1;
  net_wr(ctx, nullptr, nullptr);
  main_hr(ctx, rec.payload, rec.cmpr_n);
}

// Decodes a line block of one camera and cuts it into pieces. Returns the y_count of its last
// line through *last when the block gave lines.
void take_line_block(RunContext& ctx, const RawRecord& rec, int camera, CamQueues& q, double* last) {
  int16_t n_lin = 0;
  if (decmpr(ctx, rec.payload, rec.cmpr_n, &n_lin) == 0 || n_lin <= 0) return;
  LineBlock block{static_cast<int16_t>(std::min<int>(n_lin, kLineBufLines)), ctx.dec.line_buf};
  assign_pieces(ctx, block, q);
  chain_queues(ctx, q);
  *last = block.lines[block.n_lin - 1].y_count;
  mark_minute(ctx, camera, block);
}

void first_pass(RunContext& ctx) {
  DriverState& d = ctx.drv;
  d.first_pass = 0;
  show_banner(ctx);
  tables(ctx);
  read_hyd_path(ctx);
  label_queues(ctx);
  while (!ctx.raw.raw_file.is_open()) {
    hprintf(ctx.diag, " no OEU files ? \n");
    if (progress_tick(ctx) == 0) cancel_run(ctx);
  }
  hprintf(ctx.diag, "\n mp_nam=%s \n", ctx.raw.mp_nam);
  pixfil(ctx);
}

// Camera A: records up to and including one line block.
void step_a(RunContext& ctx) {
  DriverState& d = ctx.drv;
  bool at_end = false;
  for (;;) {
    if (!before_end(ctx, d.pos_a, "mp71")) {
      at_end = true;
      break;
    }
    RawRecord rec;
    if (!read_record(ctx, d.cursor_a, d.pos_a, "mp02", "mp71", &rec)) {
      at_end = true;
      break;
    }
    hprintf(ctx.diag, "pos_a=%ld prev_a=%ld last_a=%lf pos_b=%ld last_b=%lf \n", d.pos_a, d.prev_a, d.last_a,
            d.prev_b, d.last_b);
    hprintf(ctx.diag, "A_B_ident=%d \n", rec.kind);
    hprintf(ctx.diag, "cmpr_n=%d \n", rec.cmpr_n);
    d.prev_a = d.pos_a;
    d.pos_a += rec.cmpr_n + static_cast<int32_t>(kRecordHeadSize);
    if (rec.kind == kKindMainHeader) {
      take_main_header(ctx, rec);
    } else if (rec.kind == kKindLinesA) {
      take_line_block(ctx, rec, 1, ctx.queues_a, &d.last_a);
      break;
    }
  }
  if (at_end || !before_end(ctx, d.pos_a, "mp71")) d.eof_a = 1;
  hprintf(ctx.diag, "hd_nam=%s pos_a=%ld, rawend=%ld, raw_day=%ld, pix_day=%ld \n", ctx.out.hd_nam, d.pos_a,
          d.rawend, ctx.raw.raw_day, ctx.out.pix_day);
}

// Camera B: records until B's line time has caught up with A's, or all of them once A is at its
// end. Returns false when the pass must end here (B waits for more data while A goes on).
bool step_b(RunContext& ctx) {
  DriverState& d = ctx.drv;
  while (d.last_b < d.last_a || d.eof_a) {
    if (progress_tick(ctx) == 0) cancel_run(ctx);
    bool at_end = !before_end(ctx, d.pos_b, "mp72");
    if (!at_end) {
      RawRecord rec;
      if (read_record(ctx, d.cursor_b, d.pos_b, "mp04", "mp72", &rec)) {
        hprintf(ctx.diag, "hd_nam=%s pos_b=%ld last_b=%lf pos_a=%ld last_a=%lf \n", ctx.out.hd_nam, d.prev_b,
                d.last_b, d.prev_a, d.last_a);
        hprintf(ctx.diag, "A_B_ident=%d \n", rec.kind);
        hprintf(ctx.diag, "cmpr_n=%d \n", rec.cmpr_n);
        d.prev_b = d.pos_b;
        d.pos_b += rec.cmpr_n + static_cast<int32_t>(kRecordHeadSize);
        if (rec.kind == kKindMainHeader) {
          take_main_header(ctx, rec);
        } else if (rec.kind == kKindLinesB) {
          take_line_block(ctx, rec, 2, ctx.queues_b, &d.last_b);
        }
      } else {
        at_end = true;
      }
      if (!at_end) at_end = !before_end(ctx, d.pos_b, "mp72");
    }
    if (at_end) {
      hprintf(ctx.diag, "B: EOF found at %ld\n", d.rawend);
      if (d.eof_a) {
        d.eof_b = 1;
        return true;
      }
      hprintf(ctx.diag, "feof found reading B\n");
      return false;
    }
  }
  return true;
}

}  // namespace

int makepix(RunContext& ctx) {
  DriverState& d = ctx.drv;
  hprintf(ctx.diag, "makepix enc.: hd_nam=%s \n", ctx.out.hd_nam);
  if (d.first_pass == 1) first_pass(ctx);

  int64_t now = ctx.platform->now();
  if (now > d.last_write_time + 3) {
    d.last_write_time = now;
    ctx.writer.force_write = 1;
    net_wr(ctx, nullptr, nullptr);
  }

  if (progress_tick(ctx) == 0) cancel_run(ctx);

  hprintf(ctx.diag, "pos_a=%ld rawend=%ld maincnt=%d \n", d.pos_a, d.rawend, ctx.hdr.maincnt);

  step_a(ctx);
  if (!step_b(ctx)) return 1;

  if (ctx.queues_a.wait_tail != nullptr && ctx.queues_b.wait_tail != nullptr) {
    hprintf(ctx.diag, "calling findmatch\n");
    find_m(ctx, &d.total, d.last_a);
  }

  if (d.eof_a == 1 && d.eof_b == 1) {
    ctx.writer.force_write = 1;
    net_wr_final(ctx);
    draw_summary(ctx);
    clean_up(ctx);
    end_run(kExitOk);
  }
  if (d.pos_a == d.rawend) hprintf(ctx.diag, "EOF reading A \n");
  return 1;
}

}  // namespace quorda
