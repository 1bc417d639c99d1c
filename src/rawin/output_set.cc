// The output file set of one raw file and the resume point of an earlier run.
//
// pixfil names the hydrometeor (".hyd"), header (".hd") and index (".abh") files after the raw
// file's base name, opens them (creating missing ones with their initial heads), restores what an
// earlier run saved and sets both raw-file cursors to the resume point. The header file is read
// back before the index file is evaluated: its last main header record gives the line frequency
// needed to turn the saved lastpix_y into a minute of the day. Single-threaded.
#include "rawin/output_set.h"

#include <cmath>

#include "base/bytes.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "rawin/main_hr.h"
#include "rawin/rawin_run.h"

namespace quorda {

namespace {

void encode_table(const int32_t* table, uint8_t* p) {
  for (int i = 0; i < kMinutes; ++i) put_i32(p + 4 * i, table[i]);
}

void decode_table(const uint8_t* p, int32_t* table) {
  for (int i = 0; i < kMinutes; ++i) table[i] = get_i32(p + 4 * i);
}

// Reads a 1442-entry table; false (table unchanged) on a short read.
bool read_table(OutFile& f, int32_t* table) {
  uint8_t buf[kMinuteTableBytes];
  if (!f.read(buf, sizeof buf)) return false;
  decode_table(buf, table);
  return true;
}

bool write_table(OutFile& f, const int32_t* table) {
  uint8_t buf[kMinuteTableBytes];
  encode_table(table, buf);
  return f.write(buf, sizeof buf);
}

// The entry a cursor restarts from: walk back from `minute` past every minute that shares its
// block, then one minute further (never below entry 0).
int resume_entry(const int32_t* pos_bf, int minute) {
  int i = minute;
  while (i > 1 && pos_bf[i] == pos_bf[i - 1]) --i;
  i = i - 1;
  return i > 0 ? i : 0;
}

void open_hyd(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  if (!out.pix_stream.open(*ctx.files, out.pix_nam, OutFile::Mode::kAppend))
    fatal_tag(ctx.diag, " pixfil01 ");
  if (!out.pix_stream.seek_end()) report_tag(ctx.diag, " pixfil02 ");
  int32_t end = out.pix_stream.tell();
  if (end < 0) {
    report_tag(ctx.diag, " pixfil03 ");
  } else {
    out.pix_end = end;
  }
}

// Reads pos_pix, oldlen and the main header records of an existing header file.
void read_back_hd(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  Writer& w = ctx.writer;
  HeaderBook& hb = ctx.hdr;
  if (!out.hd_stream.open(*ctx.files, out.hd_nam, OutFile::Mode::kUpdate)) fatal_tag(ctx.diag, " pixfil14 ");
  if (!read_table(out.hd_stream, w.pos_pix)) report_tag(ctx.diag, " pixfil15 ");
  uint8_t ol[2];
  if (out.hd_stream.read(ol, sizeof ol)) {
    w.oldlen = get_i16(ol);
  } else {
    report_tag(ctx.diag, " pixfil16 ");
  }
  // Entry 1441 is not examined.
  for (int i = 0; i <= kMinutes - 2; ++i) {
    if (w.pos_pix[i] != -1) w.pix_minute = static_cast<int16_t>(i);
  }
  if (hb.head != nullptr) fatal(ctx.diag, " pixfil: header list ... where from ??? \n");

  double last_line_fr = 0.0;
  bool any = false;
  uint8_t rec[kMainHeaderSize];
  while (out.hd_stream.read(rec, sizeof rec)) {
    MainHeader h = decode_main_header(rec);
    hb.maint[hb.maincnt] = h.main_time;
    hprintf(ctx.diag, "maincnt=%d maint=%lu \n", hb.maincnt, h.main_time);
    ++hb.maincnt;
    if (hb.maincnt == kMaxMainHeaders) fatal(ctx.diag, " more than 100 mainheaders ! \n");
    main_tim(ctx, h);
    last_line_fr = h.line_fr;
    any = true;
  }
  if (!out.hd_stream.at_eof()) {
    errf(ctx.diag, " could not read main header from headfil! \n");
    fatal_tag(ctx.diag, "pixfil32");
  }
  hprintf(ctx.diag, "maincnt=%d \n", hb.maincnt);
  // No raw main header has been read yet: the line frequency of the last header of the earlier
  // run stands in for it until one is.
  if (any) hb.line_fr = last_line_fr;
  if (!out.hd_stream.seek_end()) report_tag(ctx.diag, " pixfil31 ");
}

void create_hd(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  if (!out.hd_stream.open(*ctx.files, out.hd_nam, OutFile::Mode::kAppend)) fatal_tag(ctx.diag, " pixfil18 ");
  if (!write_table(out.hd_stream, ctx.writer.pos_pix)) report_tag(ctx.diag, " pixfil19 ");
  uint8_t ol[2];
  put_i16(ol, ctx.writer.oldlen);
  if (!out.hd_stream.write(ol, sizeof ol)) report_tag(ctx.diag, " pixfil20 ");
  // The file is rewritten in place from now on, which append mode would not allow.
  if (!out.hd_stream.open(*ctx.files, out.hd_nam, OutFile::Mode::kUpdate)) fatal_tag(ctx.diag, " pixfil21 ");
  if (!out.hd_stream.seek_end()) report_tag(ctx.diag, " pixfil31 ");
}

// Reads the saved minute indexes and lastpix_y of an existing index file and sets the cursors.
void read_back_abh(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  Writer& w = ctx.writer;
  if (!out.abh_stream.open(*ctx.files, out.abh_nam, OutFile::Mode::kUpdate))
    fatal_tag(ctx.diag, " pixfil04 ");
  if (!read_table(out.abh_stream, mi.posa_bf)) report_tag(ctx.diag, " pixfil05 ");
  if (!read_table(out.abh_stream, mi.posb_bf)) report_tag(ctx.diag, " pixfil06 ");
  uint8_t lp[4];
  uint64_t lastpix = 0;
  if (out.abh_stream.read(lp, sizeof lp)) {
    lastpix = get_u32(lp);
    // A saved file also holds the high word; one written at creation ends before it.
    if (out.abh_stream.read(lp, sizeof lp)) {
      lastpix |= static_cast<uint64_t>(get_u32(lp)) << 32;
    } else if (!out.abh_stream.at_eof()) {
      report_tag(ctx.diag, " pixfil07 ");
    }
  } else {
    report_tag(ctx.diag, " pixfil07 ");
  }
  w.lastpix_y = lastpix;
  w.resume_lastpix_y = lastpix;

  // Without a known line frequency the resume minute cannot be formed: both cursors restart at
  // entry 0. A minute beyond the table (a damaged file) starts the walk at its last entry.
  int minute = 0;
  const double line_fr = ctx.hdr.line_fr;
  if (line_fr > 0.0) {
    double m = std::trunc(static_cast<double>(lastpix) / (line_fr * 60.0));
    minute = m > static_cast<double>(kMinutes - 1) ? kMinutes - 1 : static_cast<int>(m);
  }
  int ia = resume_entry(mi.posa_bf, minute);
  int ib = resume_entry(mi.posb_bf, minute);
  ctx.drv.pos_a = mi.posa_bf[ia];
  ctx.drv.pos_b = mi.posb_bf[ib];
  hprintf(ctx.diag, "lastpix_y=%lu minute=%d pos_a=%ld pos_b=%ld i=%d\n", lastpix, minute, ctx.drv.pos_a,
          ctx.drv.pos_b, ib);
  hprintf(ctx.diag, "pixfil: pos_a=%ld pos_b=%ld \n", ctx.drv.pos_a, ctx.drv.pos_b);
}

void create_abh(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  if (!out.abh_stream.open(*ctx.files, out.abh_nam, OutFile::Mode::kAppend))
    fatal_tag(ctx.diag, " pixfil09 ");
  if (!write_table(out.abh_stream, mi.posa_bf)) report_tag(ctx.diag, " pixfil10 ");
  if (!write_table(out.abh_stream, mi.posb_bf)) report_tag(ctx.diag, " pixfil11 ");
  uint8_t lp[4];
  put_u32(lp, 0);
  if (!out.abh_stream.write(lp, sizeof lp)) report_tag(ctx.diag, " pixfil12 ");
  if (!out.abh_stream.open(*ctx.files, out.abh_nam, OutFile::Mode::kUpdate))
    fatal_tag(ctx.diag, " pixfil13 ");
  ctx.writer.lastpix_y = 0;
  ctx.writer.resume_lastpix_y = 0;
}

}  // namespace

void pixfil(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  Writer& w = ctx.writer;
  hprintf(ctx.diag, "pixfil encountered \n");
  for (int i = 0; i < kMinutes; ++i) {
    mi.posa_bf[i] = 0;
    mi.posb_bf[i] = 0;
    w.pos_pix[i] = -1;
  }
  w.pos_pix[0] = 0;

  const PathParts parts = split_path(ctx.raw.mp_nam);
  out.pix_day = ctx.raw.raw_day_at_open;
  out.abh_nam = ctx.settings.raw_path + parts.name + ".abh";
  out.pix_nam = ctx.settings.hyd_path + parts.name + ".hyd";
  out.hd_nam = ctx.settings.hyd_path + parts.name + ".hd";
  hprintf(ctx.diag, "abh_nam=%s   pix_nam=%s   hd_nam=%s \n", out.abh_nam, out.pix_nam, out.hd_nam);

  open_hyd(ctx);

  const bool hd_exist = ctx.files->exists(out.hd_nam);
  hprintf(ctx.diag, "hd_exist=%d\n", hd_exist);
  hprintf(ctx.diag, "hd_nam=%s\n", out.hd_nam);
  if (hd_exist) {
    read_back_hd(ctx);
  } else {
    create_hd(ctx);
  }

  const bool abh_exist = ctx.files->exists(out.abh_nam);
  hprintf(ctx.diag, "abh_exist=%d\n", abh_exist);
  hprintf(ctx.diag, "abh_nam=%s\n", out.abh_nam);
  if (abh_exist) {
    read_back_abh(ctx);
  } else {
    create_abh(ctx);
  }
  hprintf(ctx.diag, "pixfil: lastpix_y=%lu, pos_a=%ld, pos_b=%ld\n", w.lastpix_y, ctx.drv.pos_a,
          ctx.drv.pos_b);
}

}  // namespace quorda
