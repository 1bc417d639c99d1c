// The hydrometeor output writer.
//
// net_wr turns each matched pair into a particle record (pack_particle), drops particles that an
// earlier run already wrote, collects the records in the writer's buffer, keeps the per-minute
// index pos_pix and saves now and then: more than three seconds after the last save, when the
// buffer would fill, and whenever force_write is set. The hot path (a pair without a save) makes
// no allocation and no system call. Single-threaded.
#include "measure/hyd_writer.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/minute_table.h"
#include "format/particle_record.h"
#include "measure/measure_run.h"
#include "measure/pack_particle.h"

namespace quorda {

namespace {

constexpr int64_t kFlushSeconds = 3;

// Appends the buffer to the hydrometeor file at its end, with one write.
void append_buffer(const MeasureRun& ctx) {
  OutputSet& out = ctx.out;
  Writer& w = ctx.writer;
  hprintf(ctx.diag, "lastpix_y=%lf now writing %ld ", static_cast<double>(w.lastpix_y), w.pix_indx);
  if (static_cast<int64_t>(out.pix_end) + w.pix_indx > INT32_MAX) {
    errno = EFBIG;
    fatal_tag(ctx.diag, " net_wr03 ");
  }
  if (!out.pix_stream.write_at(out.pix_end, w.pix_buf, static_cast<size_t>(w.pix_indx)))
    fatal_tag(ctx.diag, " net_wr02 ");
  out.pix_end += w.pix_indx;
  w.hyd_unsynced = true;
  w.file_oldlen = w.oldlen;
  w.file_lastpix_line = w.lastpix_line;
}

}  // namespace

void commit_heads(const MeasureRun& ctx, bool final_save) {
  OutputSet& out = ctx.out;
  Writer& w = ctx.writer;
  // The heads count what the file holds: particles still in the buffer move neither the resume
  // point nor oldlen, and their pos_pix entries (at or beyond the file's end) are left out.
  if (w.file_lastpix_line > 0.0) w.lastpix_y = static_cast<uint64_t>(w.file_lastpix_line);
  // The stream's bytes reach the disk before a head that counts them.
  if (w.hyd_unsynced) {
    if (!out.pix_stream.sync()) fatal_tag(ctx.diag, " net_wr14 ");
    w.hyd_unsynced = false;
  }
  uint8_t hd_head[kHdHeadSize];
  for (int i = 0; i < kMinutes; ++i) {
    const int32_t v = w.pos_pix[i];
    put_minute_entry(hd_head, i, v >= out.pix_end && !(i == 0 && v == 0) ? -1 : v);
  }
  put_i16(hd_head + kHdOldlenOffset, w.file_oldlen);
  if (!out.hd_stream.write_at(0, hd_head, sizeof hd_head)) fatal_tag(ctx.diag, " net_wr05 ");
  hprintf(ctx.diag, "hd_nam=%s\n", out.hd_nam);
  // The header file's head reaches the disk before the commit record.
  if (!out.hd_stream.sync()) fatal_tag(ctx.diag, " net_wr07 ");

  // The commit record: posa_bf, posb_bf and the 64-bit lastpix_y (low word, then high word).
  uint8_t abh_head[kAbhSavedSize];
  encode_minute_table(ctx.minutes.posa_bf, abh_head);
  encode_minute_table(ctx.minutes.posb_bf, abh_head + kAbhPosbOffset);
  put_u64(abh_head + kAbhLastpixOffset, w.lastpix_y);
  if (!out.abh_stream.write_at(0, abh_head, sizeof abh_head)) fatal_tag(ctx.diag, " net_wr09 ");
  if (final_save && !out.abh_stream.sync()) fatal_tag(ctx.diag, " net_wr12 ");
}

namespace {

// One save. A save for a full buffer only appends it: the heads are committed at the other saves
// (timed, forced and final), which sync the files first. An empty buffer leaves the files
// untouched unless `heads_always` asks for the heads.
void save(const MeasureRun& ctx, int64_t now, bool commit, bool heads_always) {
  Writer& w = ctx.writer;
  w.flush_time = now;
  const bool have_records = w.pix_indx > 0;
  if (have_records) append_buffer(ctx);
  if (commit && (w.hyd_unsynced || heads_always)) commit_heads(ctx, heads_always);
  w.force_write = 0;
  w.pix_indx = 0;
  hprintf(ctx.diag, " written \n");
}

// Enters the record just added at pix_indx for every minute from pix_minute + 1 up to its own.
void enter_minute(const MeasureRun& ctx, double t1) {
  Writer& w = ctx.writer;
  const int minute = minute_of_line(t1, ctx.hdr.line_fr);
  if (minute == kNoMinute || minute <= w.pix_minute) return;
  for (int i = w.pix_minute + 1; i <= minute; ++i) {
    if (w.pos_pix[i] == -1) w.pos_pix[i] = ctx.out.pix_end + w.pix_indx;
    hprintf(ctx.diag, "i=%d pos_pix=%lu pix_end=%lu pix_indx=%lu \n", i, w.pos_pix[i], ctx.out.pix_end,
            w.pix_indx);
  }
  w.pix_minute = static_cast<int16_t>(minute);
}

}  // namespace

void net_wr(const MeasureRun& ctx, const Piece* drop_a, const Piece* drop_b) {
  Writer& w = ctx.writer;
  const bool pair = drop_a != nullptr && drop_b != nullptr;
  uint8_t head[kPixHeadSize];
  uint16_t outline[kMaxOutlineWords];
  int len = 0;
  double t1 = 0.0;
  if (pair) {
    if (pack_particle(ctx, *drop_a, *drop_b, outline, head) == 0) return;
    len = get_u16(head + pixhead::kLenBits) & kLenMask;
    if (len < static_cast<int>(kPixHeadSize)) return;
    t1 = get_f64(head + pixhead::kT1);
    // Drop what an earlier run saved, as the recovery found it at the start of the run: the
    // particles are made again in the same order of t1.
    if (w.resume_drop && t1 <= w.resume_t1) {
      if (t1 < w.resume_t1) return;
      if (w.resume_ties > 0) {
        --w.resume_ties;
        return;
      }
    }
  }

  const int64_t now = ctx.platform->now();
  const bool timed = now > w.flush_time + kFlushSeconds || w.force_write != 0;
  const bool full = pair && static_cast<size_t>(w.pix_indx) + static_cast<size_t>(len) >= kPixBufSize;
  if (timed || full) save(ctx, now, timed, false);
  if (!pair) return;

  uint8_t* dst = w.pix_buf + w.pix_indx;
  std::memcpy(dst, head, kPixHeadSize);
  const int words = (len - static_cast<int>(kPixHeadSize)) / 2;
  for (int i = 0; i < words; ++i) put_u16(dst + kPixHeadSize + sizeof(uint16_t) * i, outline[i]);
  w.oldlen = static_cast<int16_t>(len);
  w.lastpix_line = t1;
  enter_minute(ctx, t1);
  w.pix_indx += len;
}

void net_wr_append(const MeasureRun& ctx) {
  save(ctx, ctx.platform->now(), false, false);
}

void net_wr_final(const MeasureRun& ctx) {
  save(ctx, ctx.platform->now(), true, true);
}

}  // namespace quorda
