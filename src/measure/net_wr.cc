// The hydrometeor output writer.
//
// net_wr turns each matched pair into a particle record (transf_1), drops particles that an
// earlier run already wrote, collects the records in the writer's buffer, keeps the per-minute
// index pos_pix and saves now and then: more than three seconds after the last save, when the
// buffer would fill, and whenever force_write is set. The hot path (a pair without a save) makes
// no allocation and no system call. Single-threaded.
#include "measure/net_wr.h"

#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/trace.h"
#include "measure/measure_run.h"
#include "measure/transf_1.h"

namespace quorda {

namespace {

constexpr int kLenMask = 0x7FF;  // bits 0 to 10 of len_bits: the record length
constexpr int64_t kFlushSeconds = 3;

void put_table(const int32_t* table, uint8_t* p) {
  for (int i = 0; i < kMinutes; ++i) put_i32(p + 4 * i, table[i]);
}

// Appends the buffer to the hydrometeor file and takes the file's new length as pix_end. The
// stream position is left where it stood.
void save_hyd(const MeasureRun& ctx) {
  OutputSet& out = ctx.out;
  Writer& w = ctx.writer;
  OutFile& f = out.pix_stream;
  hprintf(ctx.diag, "lastpix_y=%lf now writing %ld ", static_cast<double>(w.lastpix_y), w.pix_indx);
  int32_t saved = f.tell();
  if (saved < 0) report_tag(ctx.diag, " net_wr00 ");
  if (!f.append(w.pix_buf, static_cast<size_t>(w.pix_indx))) report_tag(ctx.diag, " net_wr02 ");
  if (!f.commit()) fatal_tag(ctx.diag, " net_wr14 ");
  if (!f.seek_end()) report_tag(ctx.diag, " netwr01 ");
  int32_t end = f.tell();
  if (end < 0) {
    report_tag(ctx.diag, " net_wr03 ");
  } else {
    out.pix_end = end;
  }
  if (saved < 0 || !f.seek(saved)) report_tag(ctx.diag, " net_wr20 ");
}

// Rewrites pos_pix and oldlen at the start of the header file.
void save_hd_head(const MeasureRun& ctx) {
  OutputSet& out = ctx.out;
  Writer& w = ctx.writer;
  OutFile& f = out.hd_stream;
  uint8_t head[kHdHeadSize];
  put_table(w.pos_pix, head);
  put_i16(head + kHdOldlenOffset, w.oldlen);
  if (!f.seek(0) || !f.write(head, kMinuteTableBytes)) report_tag(ctx.diag, " net_wr05 ");
  if (!f.write(head + kHdOldlenOffset, 2)) report_tag(ctx.diag, " net_wr06 ");
  hprintf(ctx.diag, "hd_nam=%s\n", out.hd_nam);
  if (!f.commit()) fatal_tag(ctx.diag, " net_wr07 ");
  if (!f.seek_end()) report_tag(ctx.diag, " netwr08 ");
}

// Rewrites posa_bf, posb_bf and the 64-bit lastpix_y (low word, then high word) of the index file.
void save_abh_head(const MeasureRun& ctx) {
  OutputSet& out = ctx.out;
  OutFile& f = out.abh_stream;
  uint8_t head[kAbhSavedSize];
  put_table(ctx.minutes.posa_bf, head);
  put_table(ctx.minutes.posb_bf, head + kAbhPosbOffset);
  put_u64(head + kAbhLastpixOffset, ctx.writer.lastpix_y);
  if (!f.seek(0) || !f.write(head, kMinuteTableBytes)) report_tag(ctx.diag, " net_wr09 ");
  if (!f.write(head + kAbhPosbOffset, kMinuteTableBytes)) report_tag(ctx.diag, " net_wr10 ");
  if (!f.write(head + kAbhLastpixOffset, kAbhSavedSize - kAbhLastpixOffset))
    report_tag(ctx.diag, " net_wr11 ");
  if (!f.commit()) fatal_tag(ctx.diag, " net_wr12 ");
}

// One save. An empty buffer leaves the files untouched unless `heads_always` asks for the heads.
void save(const MeasureRun& ctx, int64_t now, bool heads_always) {
  Writer& w = ctx.writer;
  w.flush_time = now;
  const bool have_records = w.pix_indx > 0;
  if (have_records || heads_always) {
    if (have_records) {
      save_hyd(ctx);
      // Only saved particles move the resume point.
      w.lastpix_y = w.lastpix_line > 0.0 ? static_cast<uint64_t>(w.lastpix_line) : 0;
    }
    save_hd_head(ctx);
    save_abh_head(ctx);
  }
  w.force_write = 0;
  w.pix_indx = 0;
  hprintf(ctx.diag, " written \n");
}

// Enters the record just added at pix_indx for every minute from pix_minute + 1 up to its own.
void enter_minute(const MeasureRun& ctx, double t1) {
  Writer& w = ctx.writer;
  const double line_fr = ctx.hdr.line_fr;
  if (!(line_fr > 0.0)) return;
  const double m = std::trunc(t1 / (line_fr * 60.0));
  if (!(m >= 0.0 && m <= static_cast<double>(kMinutes - 1))) return;
  const int minute = static_cast<int>(m);
  if (minute <= w.pix_minute) return;
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
    if (transf_1(ctx, *drop_a, *drop_b, outline, head) == 0) return;
    len = get_u16(head + pixhead::kLenBits) & kLenMask;
    if (len < static_cast<int>(kPixHeadSize)) return;
    t1 = get_f64(head + pixhead::kT1);
    // Drop what an earlier run wrote. The resume point is the one restored at the start of the
    // run: this run's own saves must not drop a later particle with the same first line.
    if (static_cast<double>(w.resume_lastpix_y) >= t1) return;
  }

  const int64_t now = ctx.platform->now();
  if (now > w.flush_time + kFlushSeconds ||
      (pair && static_cast<size_t>(w.pix_indx) + static_cast<size_t>(len) >= kPixBufSize) ||
      w.force_write != 0) {
    save(ctx, now, false);
  }
  if (!pair) return;

  uint8_t* dst = w.pix_buf + w.pix_indx;
  std::memcpy(dst, head, kPixHeadSize);
  const int words = (len - static_cast<int>(kPixHeadSize)) / 2;
  for (int i = 0; i < words; ++i) put_u16(dst + kPixHeadSize + 2 * i, outline[i]);
  w.oldlen = static_cast<int16_t>(len);
  w.lastpix_line = t1;
  enter_minute(ctx, t1);
  w.pix_indx += len;
}

void net_wr_final(const MeasureRun& ctx) {
  save(ctx, ctx.platform->now(), true);
}

}  // namespace quorda
