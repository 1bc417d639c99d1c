// take_main_header: takes each raw main header of the run once, completes it with the settings into the
// 74-byte main header record, lists it, and appends it to the header file and the hydrometeor
// file.
#include "rawin/take_main_header.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/run_end.h"
#include "base/trace.h"
#include "format/main_header.h"
#include "outset/output_set.h"
#include "platform/platform.h"
#include "rawin/rawin_run.h"

namespace quorda {

namespace {

// Tag of a raw main header cut short.
constexpr char kShortHeaderTag[] = " main_hr01 ";

// Pixel widths at the line centres used unless OVERWRITE is 1.
constexpr float kFixedXscaleA = 0.153f;
constexpr float kFixedXscaleB = 0.168f;

// Low 16 bits of ratio_num * 100 / ratio_den, truncated toward zero; 0 without a denominator.
int16_t ratio_pct(int16_t num, int16_t den) {
  if (den == 0) return 0;
  // |num * 100.0 / den| is at most 3276800, so the truncation fits 32 bits.
  const auto whole = static_cast<int32_t>(num * 100.0 / den);
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(whole)));
}

// Name and extension of the hydrometeor file, cut to the 13 characters the record holds.
void fill_pix_file(const std::string& hyd_name, char* dst) {
  const PathParts parts = split_path(hyd_name);
  const std::string name = parts.name + parts.ext;
  std::memset(dst, 0, mh::kPixFileSize);
  name.copy(dst, mh::kPixFileSize - 1);
}

MainHeader build_record(const RawinRun& ctx, const RawMainHeader& hp) {
  const Settings& s = ctx.settings;
  MainHeader rec;
  rec.indic = kMainHeaderIndic;
  rec.len_prev = ctx.framing.last_record_len;
  fill_pix_file(ctx.out.hyd_name, rec.pix_file);
  rec.main_time = hp.valid_since;
  hprintf(ctx.diag, "now writing oldlen=%d main_time=%lu \n", rec.len_prev, rec.main_time);
  rec.line_fr = hp.line_fr;
  rec.hbl = s.hbl;
  rec.hbr = s.hbr;
  rec.hfr = s.hfr;
  rec.centre_pix = hp.centre_pix;
  rec.gate1 = hp.gate1;
  rec.gate2 = hp.gate2;
  rec.hd_w4 = hp.hd_w4;
  rec.hd_mark = kMainHeaderMark;
  rec.hd_kind = kMainHeaderKind;
  rec.hd_zero = kMainHeaderReserved;
  rec.ratio_pct = ratio_pct(hp.ratio_num, hp.ratio_den);
  if (s.overwrite == 1) {
    rec.xscale0_1 = s.xscal_a;
    rec.xscale0_2 = s.xscal_b;
    rec.l0_1 = s.dist_a;
    rec.l0_2 = s.dist_b;
  } else {
    rec.xscale0_1 = kFixedXscaleA;
    rec.xscale0_2 = kFixedXscaleB;
    rec.l0_1 = hp.l0_1;
    rec.l0_2 = hp.l0_2;
  }
  return rec;
}

}  // namespace

void take_main_header(const RawinRun& ctx, const uint8_t* payload, int32_t len) {
  HeaderBook& hb = ctx.hdr;
  hprintf(ctx.diag, "main_hr: \n");
  if (payload == nullptr || len < static_cast<int32_t>(kRawMainHeaderSize)) {
    // A header cut short (the growing end of the raw file) is not taken at all. No system call
    // failed, so the reason given is ENODATA rather than whatever errno held from before.
    errno = ENODATA;
    report_tag(ctx.diag, kShortHeaderTag);
    return;
  }
  const RawMainHeader hp = decode_raw_main_header(payload);

  // A header taken before leaves the line frequency as it is. The minutes of the index tables are
  // formed with the current line frequency, and a reader of the hydrometeor file forms them with
  // that of the last main header record before a particle: only a header whose record is appended
  // may change it, or a repeated header carrying another frequency (a damaged copy, or an older
  // header repeated after a newer one) would index particles under minutes the file contradicts.
  for (int i = 0; i < hb.main_count; ++i) {
    hprintf(ctx.diag, "i=%d maint=%ld loc_hd_par.valid_since=%ld \n", i, hb.main_times[i], hp.valid_since);
    if (hb.main_times[i] == hp.valid_since) {
      hprintf(ctx.diag, "identical found \n");
      return;
    }
  }
  hb.line_fr = hp.line_fr;

  if (hb.main_count < kMaxMainHeaders) hb.main_times[hb.main_count] = hp.valid_since;
  ++hb.main_count;
  if (hb.main_count >= kMaxMainHeaders) {
    outf(ctx.diag, kTooManyMainHeaders);
    std::fflush(ctx.diag.out);
    std::fflush(ctx.diag.err);
    end_run(kExitFatal);
  }

  const MainHeader rec = build_record(ctx, hp);
  insert_header(ctx, rec);

  uint8_t bytes[kMainHeaderSize];
  encode_main_header(rec, bytes);
  append_main_header(ctx.diag, ctx.out, ctx.framing, bytes);

  ctx.framing.last_record_len = static_cast<int16_t>(kMainHeaderSize);
  ctx.framing.commit_due = true;
}

}  // namespace quorda
