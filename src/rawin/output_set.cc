// The output file set of one raw file and the resume point of an earlier run.
//
// open_output_set names the hydrometeor (".hyd"), header (".hd") and index (".abh") files after the raw
// file's base name and reads what an earlier run left. Before anything is appended, the set is
// brought back to its last save (plan_recovery): records written after it are cut and the header
// file's head is made to agree with what is kept; what was cut is written to the error stream. A
// set that cannot be brought back is left untouched and ends the run. Then open_output_set creates missing
// files with their initial heads, restores the saved state and sets both raw-file cursors to the
// resume point. The header file is read back before the index file is evaluated: its last main
// header record gives the line frequency needed to turn the last saved line into a minute of the
// day. Single-threaded.
#include "rawin/output_set.h"

#include <climits>
#include <cmath>
#include <vector>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/line_block_format.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/raw_positions.h"
#include "format/recover_output_set.h"
#include "platform/platform.h"
#include "rawin/rawin_run.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

// Tags of the failed steps of opening the set: reading, opening, cutting, measuring, writing and
// syncing each file, and measuring the raw file.
constexpr char kHydOpenTag[] = " pixfil01 ";
constexpr char kHydCutTag[] = " pixfil02 ";
constexpr char kHydSizeTag[] = " pixfil03 ";
constexpr char kAbhOpenTag[] = " pixfil04 ";
constexpr char kRawSizeTag[] = " pixfil08 ";
constexpr char kAbhCreateTag[] = " pixfil09 ";
constexpr char kAbhWriteTag[] = " pixfil10 ";
constexpr char kAbhSyncTag[] = " pixfil13 ";
constexpr char kHdOpenTag[] = " pixfil14 ";
constexpr char kHdSizeTag[] = " pixfil15 ";
constexpr char kHdCutTag[] = " pixfil16 ";
constexpr char kHdCreateTag[] = " pixfil18 ";
constexpr char kHdHeadWriteTag[] = " pixfil19 ";
constexpr char kHdSyncTag[] = " pixfil20 ";
constexpr char kHydFolderSyncTag[] = " pixfil23 ";
constexpr char kAbhFolderSyncTag[] = " pixfil24 ";

// What the recovery refused or cut, and a header list met where none can be yet.
constexpr char kSetRefused[] =
    " pixfil: %s \n the output set cannot be continued: nothing was changed; remove %s, %s and %s to "
    "convert the day anew \n";
constexpr char kHydCutBack[] = " pixfil: %s cut back to its last save: %lld bytes, %d whole records%s \n";
constexpr char kHdCutBack[] = " pixfil: %s cut back to its last save: %d main header records%s \n";
constexpr char kAndATornOne[] = " and a torn one";
constexpr char kHdHeadSetBack[] = " pixfil: %s head set back to the records kept \n";
constexpr char kAbhTablesCutBack[] = " pixfil: %s minute tables cut back to their last whole entries \n";
constexpr char kHeaderListTooEarly[] = " pixfil: header list ... where from ??? \n";

// The bytes of one file of the set, if it exists. A file that exists but cannot be read ends the
// run: nothing may be appended to a set that was not looked at.
struct FoundFile {
  bool exists = false;
  std::vector<uint8_t> bytes;
};

FoundFile read_found(const RawinRun& ctx, const std::string& path, const char* tag) {
  FoundFile f;
  f.exists = ctx.files->exists(path);
  if (!f.exists) return f;
  OutFile in;
  if (!in.open(*ctx.files, path, false) || !in.read_all(&f.bytes)) fatal_tag(ctx.diag, tag);
  in.close();
  return f;
}

// The record heads of the raw file, for the check of the index file's positions: a record head
// and, for a line block, the line number of its first frame's first line.
class RawFileHeads : public RawHeads {
 public:
  RawFileHeads(const RawFile& file, int64_t size) : file_(file), size_(size) {}
  RawBlockHead head_at(int64_t pos) override {
    constexpr size_t kFirstLineAt =
        kRecordHeadSize + lineblock::kLineCountSize + lineblock::kFrameYCountOffset;
    constexpr size_t kWant = kFirstLineAt + sizeof(double);
    RawBlockHead h;
    uint8_t b[kWant];
    size_t got = 0;
    if (pos < 0 || !file_.read_at(pos, b, kWant, &got) || got < kRecordHeadSize) return h;
    h.kind = get_i16(b);
    h.payload_len = get_i16(b + 2);
    h.whole = h.payload_len >= 0 && pos + static_cast<int64_t>(kRecordHeadSize) + h.payload_len <= size_;
    h.has_first_line = got == kWant && h.payload_len >= static_cast<int32_t>(kWant - kRecordHeadSize);
    if (h.has_first_line) h.first_line = get_f64(b + kFirstLineAt);
    return h;
  }

 private:
  const RawFile& file_;
  int64_t size_;
};

// The length of the raw file, which bounds the positions of the index file. A run has the raw file
// open by now; without it nothing bounds them.
int64_t raw_size(const RawinRun& ctx) {
  if (!ctx.raw.raw_file.is_open()) return INT64_MAX;
  int32_t end = 0;
  bool clamped = false;
  if (!ctx.raw.raw_file.measure_end(&end, &clamped)) fatal_tag(ctx.diag, kRawSizeTag);
  return clamped ? INT64_MAX : end;
}

[[noreturn]] void refuse_damaged_set(const RawinRun& ctx, const std::string& fault) {
  const OutputSet& out = ctx.out;
  // The fault names the file by its extension; the message names it by its path.
  std::string text = fault;
  const std::string ext = fault.substr(0, fault.find(':'));
  const std::string& path = ext == ".hyd" ? out.pix_nam : ext == ".hd" ? out.hd_nam : out.abh_nam;
  text.replace(0, ext.size(), path);
  fatal(ctx.diag, kSetRefused, text.c_str(), out.pix_nam.c_str(), out.hd_nam.c_str(), out.abh_nam.c_str());
}

// Says on the error stream what the recovery cut.
void report_cuts(const RawinRun& ctx, const RecoveryPlan& p) {
  const OutputSet& out = ctx.out;
  if (p.hyd_cut_bytes > 0)
    errf(ctx.diag, kHydCutBack, out.pix_nam.c_str(), static_cast<long long>(p.hyd_cut_bytes),
         p.hyd_cut_records, p.hyd_torn_tail ? kAndATornOne : "");
  if (p.hd_cut_records > 0 || p.hd_torn_tail)
    errf(ctx.diag, kHdCutBack, out.hd_nam.c_str(), p.hd_cut_records, p.hd_torn_tail ? kAndATornOne : "");
  if (p.hd_head_changed && !p.new_hd) errf(ctx.diag, kHdHeadSetBack, out.hd_nam.c_str());
  if (p.abh_tables_trimmed) errf(ctx.diag, kAbhTablesCutBack, out.abh_nam.c_str());
}

void open_hyd(const RawinRun& ctx, const RecoveryPlan& p, bool existed) {
  OutputSet& out = ctx.out;
  if (!out.pix_stream.open(*ctx.files, out.pix_nam, true)) fatal_tag(ctx.diag, kHydOpenTag);
  if (existed && p.hyd_cut_bytes > 0) {
    if (!out.pix_stream.truncate(p.hyd_keep) || !out.pix_stream.sync()) fatal_tag(ctx.diag, kHydCutTag);
  }
  const int64_t end = out.pix_stream.size();
  if (end < 0) fatal_tag(ctx.diag, kHydSizeTag);
  if (end > INT32_MAX) {
    errno = EOVERFLOW;
    fatal_tag(ctx.diag, kHydSizeTag);
  }
  out.pix_end = static_cast<int32_t>(end);
}

// Restores pos_pix, the last record length and the main header records from the kept bytes of the header
// file.
void read_back_hd(const RawinRun& ctx, const RecoveryPlan& p, const std::vector<uint8_t>& hd) {
  Writer& w = ctx.writer;
  HeaderBook& hb = ctx.hdr;
  decode_minute_table(p.hd_head.data(), w.pos_pix);
  w.last_record_len = get_i16(p.hd_head.data() + kHdLastRecordLenOffset);
  w.file_last_record_len = w.last_record_len;
  // Entry 1441 is not examined.
  for (int i = 0; i <= kMinutes - 2; ++i) {
    if (w.pos_pix[i] != -1) w.pix_minute = static_cast<int16_t>(i);
  }
  if (hb.head != nullptr) fatal(ctx.diag, kHeaderListTooEarly);

  double last_line_fr = 0.0;
  bool any = false;
  for (size_t at = kHdHeadSize; at + kMainHeaderSize <= static_cast<size_t>(p.hd_keep);
       at += kMainHeaderSize) {
    MainHeader h = decode_main_header(hd.data() + at);
    hb.maint[hb.maincnt] = h.main_time;
    hprintf(ctx.diag, "maincnt=%d maint=%lu \n", hb.maincnt, h.main_time);
    ++hb.maincnt;
    if (hb.maincnt == kMaxMainHeaders) fatal(ctx.diag, kTooManyMainHeaders);
    insert_header(ctx, h);
    last_line_fr = h.line_fr;
    any = true;
  }
  hprintf(ctx.diag, "maincnt=%d \n", hb.maincnt);
  // No raw main header has been read yet: the line frequency of the last header of the earlier
  // run stands in for it until one is.
  if (any) hb.line_fr = last_line_fr;
}

// Opens the header file, cuts it to the kept records and writes its head where it changed.
void open_hd(const RawinRun& ctx, const RecoveryPlan& p, bool existed) {
  OutputSet& out = ctx.out;
  if (!out.hd_stream.open(*ctx.files, out.hd_nam, true))
    fatal_tag(ctx.diag, existed ? kHdOpenTag : kHdCreateTag);
  const int64_t size = out.hd_stream.size();
  if (size < 0) fatal_tag(ctx.diag, kHdSizeTag);
  if (size > p.hd_keep && !out.hd_stream.truncate(p.hd_keep)) fatal_tag(ctx.diag, kHdCutTag);
  if (p.hd_head_changed || size < p.hd_keep) {
    if (!out.hd_stream.write_at(0, p.hd_head.data(), p.hd_head.size())) fatal_tag(ctx.diag, kHdHeadWriteTag);
  }
  if (p.hd_head_changed || size != p.hd_keep) {
    if (!out.hd_stream.sync()) fatal_tag(ctx.diag, kHdSyncTag);
  }
}

// Reads the saved minute indexes and last saved line of an existing index file and sets the cursors
// to the restart point the recovery found.
void read_back_abh(const RawinRun& ctx, const RecoveryPlan& p, const std::vector<uint8_t>& abh) {
  MinuteIndex& mi = ctx.minutes;
  Writer& w = ctx.writer;
  decode_minute_table(abh.data() + kAbhMinutePosAOffset, mi.minute_pos_a);
  decode_minute_table(abh.data() + kAbhMinutePosBOffset, mi.minute_pos_b);
  // A saved file also holds the high word; one written at creation ends before it.
  const uint64_t last_saved_line = read_last_saved_line(abh);
  w.last_saved_line = last_saved_line;
  ctx.drv.pos_a = p.restart.pos_a;
  ctx.drv.pos_b = p.restart.pos_b;
  hprintf(ctx.diag, "lastpix_y=%lu minute=%d pos_a=%ld pos_b=%ld i=%d\n", last_saved_line, p.restart.minute,
          ctx.drv.pos_a, ctx.drv.pos_b, p.restart.entry_b);
  hprintf(ctx.diag, "pixfil: pos_a=%ld pos_b=%ld \n", ctx.drv.pos_a, ctx.drv.pos_b);
}

void open_abh(const RawinRun& ctx, const RecoveryPlan& p) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  if (!out.abh_stream.open(*ctx.files, out.abh_nam, true))
    fatal_tag(ctx.diag, p.new_abh ? kAbhCreateTag : kAbhOpenTag);
  if (!p.new_abh) return;
  // The index file is created whole with one write, and only after the other two files: its
  // existence marks a set that has begun.
  uint8_t head[kAbhSavedSize];
  encode_abh_head(mi.minute_pos_a, mi.minute_pos_b, 0, head);
  if (!out.abh_stream.truncate(0) || !out.abh_stream.write_at(0, head, kAbhCreatedSize))
    fatal_tag(ctx.diag, kAbhWriteTag);
  if (!out.abh_stream.sync()) fatal_tag(ctx.diag, kAbhSyncTag);
  ctx.writer.last_saved_line = 0;
}

// Makes the entries of files just created in `dir` durable: a power cut must not lose a file of a
// set that the index file's existence says has begun.
void sync_new_entries(const RawinRun& ctx, const std::string& dir, const char* tag) {
  FileError err;
  if (ctx.files->sync_folder(dir, &err)) return;
  errno = err.code;
  fatal_tag(ctx.diag, tag);
}

}  // namespace

void name_output_set(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  const PathParts parts = split_path(ctx.raw.raw_file_path);
  out.pix_day = ctx.raw.raw_day_at_open;
  out.abh_nam = ctx.settings.raw_path + parts.name + ".abh";
  out.pix_nam = ctx.settings.hyd_path + parts.name + ".hyd";
  out.hd_nam = ctx.settings.hyd_path + parts.name + ".hd";
  out.lock_nam = ctx.settings.raw_path + parts.name + ".lock";
}

void open_output_set(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  Writer& w = ctx.writer;
  hprintf(ctx.diag, "pixfil encountered \n");
  for (int i = 0; i < kMinutes; ++i) {
    mi.minute_pos_a[i] = 0;
    mi.minute_pos_b[i] = 0;
    w.pos_pix[i] = -1;
  }
  w.pos_pix[0] = 0;

  name_output_set(ctx);
  hprintf(ctx.diag, "abh_nam=%s   pix_nam=%s   hd_nam=%s \n", out.abh_nam, out.pix_nam, out.hd_nam);

  const FoundFile hyd = read_found(ctx, out.pix_nam, kHydOpenTag);
  const FoundFile hd = read_found(ctx, out.hd_nam, kHdOpenTag);
  const FoundFile abh = read_found(ctx, out.abh_nam, kAbhOpenTag);
  SetOnDisk set;
  set.hyd_exists = hyd.exists;
  set.hd_exists = hd.exists;
  set.abh_exists = abh.exists;
  set.hyd = hyd.bytes;
  set.hd = hd.bytes;
  set.abh = abh.bytes;
  set.raw_size = raw_size(ctx);
  set.pix_file = split_path(ctx.raw.raw_file_path).name + ".hyd";
  RawFileHeads heads(ctx.raw.raw_file, set.raw_size);
  if (ctx.raw.raw_file.is_open()) set.raw_heads = &heads;
  const RecoveryPlan plan = plan_recovery(set);
  if (plan.damaged) refuse_damaged_set(ctx, plan.fault);
  report_cuts(ctx, plan);

  open_hyd(ctx, plan, hyd.exists);
  hprintf(ctx.diag, "hd_exist=%d\n", !plan.new_hd);
  hprintf(ctx.diag, "hd_nam=%s\n", out.hd_nam);
  open_hd(ctx, plan, hd.exists);
  if (!hyd.exists || plan.new_hd) sync_new_entries(ctx, ctx.settings.hyd_path, kHydFolderSyncTag);
  read_back_hd(ctx, plan, hd.bytes);
  w.resume_drop = plan.any_particle;
  w.resume_t1 = plan.last_t1;
  w.resume_ties = plan.last_t1_count;

  hprintf(ctx.diag, "abh_exist=%d\n", !plan.new_abh);
  hprintf(ctx.diag, "abh_nam=%s\n", out.abh_nam);
  open_abh(ctx, plan);
  if (plan.new_abh) sync_new_entries(ctx, ctx.settings.raw_path, kAbhFolderSyncTag);
  if (!plan.new_abh) read_back_abh(ctx, plan, plan.abh);
  hprintf(ctx.diag, "pixfil: lastpix_y=%lu, pos_a=%ld, pos_b=%ld\n", w.last_saved_line, ctx.drv.pos_a,
          ctx.drv.pos_b);
}

}  // namespace quorda
