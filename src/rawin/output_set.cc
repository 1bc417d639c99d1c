// Opening the output set of one raw file and restoring the raw input's state from it.
//
// The output set's floor names, reads, recovers, opens and creates the files; this routine hands it
// the raw file's records for the check of the index file's positions and restores, between its
// steps, what the raw input keeps: the main header list from the kept header records, the minute
// tables of the index file and both raw-file cursors at the resume point. The header file is read
// back before the index file is evaluated: its last main header record gives the line frequency
// needed to turn the last saved line into a minute of the day. Single-threaded.
#include "rawin/output_set.h"

#include <climits>
#include <vector>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/line_block_format.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/raw_record.h"
#include "outset/open_output_set.h"
#include "outset/raw_positions.h"
#include "platform/platform.h"
#include "rawin/rawin_run.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

// Tag of a failed measuring of the raw file, and a header list met where none can be yet.
constexpr char kRawSizeTag[] = " pixfil08 ";
constexpr char kHeaderListTooEarly[] = " pixfil: header list ... where from ??? \n";

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
    const RawRecordHead head = get_record_head(b);
    h.kind = head.kind;
    h.payload_len = head.payload_len;
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

// Lists the main header records the header file keeps, as their run took them.
void read_back_headers(const RawinRun& ctx, const RecoveryPlan& p, const std::vector<uint8_t>& hd) {
  HeaderBook& hb = ctx.hdr;
  if (hb.head != nullptr) fatal(ctx.diag, kHeaderListTooEarly);

  double last_line_fr = 0.0;
  bool any = false;
  for (size_t at = kHdHeadSize; at + kMainHeaderSize <= static_cast<size_t>(p.hd_keep);
       at += kMainHeaderSize) {
    MainHeader h = decode_main_header(hd.data() + at);
    hb.main_times[hb.main_count] = h.main_time;
    hprintf(ctx.diag, "maincnt=%d maint=%lu \n", hb.main_count, h.main_time);
    ++hb.main_count;
    if (hb.main_count == kMaxMainHeaders) fatal(ctx.diag, kTooManyMainHeaders);
    insert_header(ctx, h);
    last_line_fr = h.line_fr;
    any = true;
  }
  hprintf(ctx.diag, "maincnt=%d \n", hb.main_count);
  // No raw main header has been read yet: the line frequency of the last header of the earlier
  // run stands in for it until one is.
  if (any) hb.line_fr = last_line_fr;
}

// Reads the saved minute indexes of an existing index file and sets the cursors to the restart
// point the recovery found.
void read_back_abh(const RawinRun& ctx, const RecoveryPlan& p) {
  MinuteIndex& mi = ctx.minutes;
  decode_minute_table(p.abh.data() + kAbhMinutePosAOffset, mi.minute_pos_a);
  decode_minute_table(p.abh.data() + kAbhMinutePosBOffset, mi.minute_pos_b);
  ctx.drv.pos_a = p.restart.pos_a;
  ctx.drv.pos_b = p.restart.pos_b;
  hprintf(ctx.diag, "lastpix_y=%lu minute=%d pos_a=%ld pos_b=%ld i=%d\n", ctx.framing.last_saved_line,
          p.restart.minute, ctx.drv.pos_a, ctx.drv.pos_b, p.restart.entry_b);
  hprintf(ctx.diag, "pixfil: pos_a=%ld pos_b=%ld \n", ctx.drv.pos_a, ctx.drv.pos_b);
}

}  // namespace

void name_output_set(const RawinRun& ctx) {
  const PathParts parts = split_path(ctx.raw.raw_file_path);
  name_output_set(ctx.out, parts.name, ctx.settings.hyd_path, ctx.settings.raw_path, ctx.raw.raw_day_at_open);
}

void open_output_set(const RawinRun& ctx) {
  OutputSet& out = ctx.out;
  MinuteIndex& mi = ctx.minutes;
  hprintf(ctx.diag, "pixfil encountered \n");
  for (int i = 0; i < kMinutes; ++i) {
    mi.minute_pos_a[i] = 0;
    mi.minute_pos_b[i] = 0;
  }

  name_output_set(ctx);
  hprintf(ctx.diag, "abh_nam=%s   pix_nam=%s   hd_nam=%s \n", out.abh_name, out.hyd_name, out.hd_name);

  const FoundSet found = read_output_set(*ctx.files, ctx.diag, out);
  const int64_t size = raw_size(ctx);
  RawFileHeads heads(ctx.raw.raw_file, size);
  const RecoveryPlan plan =
      plan_set_recovery(ctx.diag, out, found, size, ctx.raw.raw_file.is_open() ? &heads : nullptr,
                        split_path(ctx.raw.raw_file_path).name + ".hyd");

  open_stream_files(*ctx.files, ctx.diag, out, ctx.framing, plan, found, ctx.settings.hyd_path);
  read_back_headers(ctx, plan, found.hd.bytes);

  open_index_file(*ctx.files, ctx.diag, out, ctx.framing, plan, ctx.settings.raw_path);
  if (!plan.new_abh) read_back_abh(ctx, plan);
  hprintf(ctx.diag, "pixfil: lastpix_y=%lu, pos_a=%ld, pos_b=%ld\n", ctx.framing.last_saved_line,
          ctx.drv.pos_a, ctx.drv.pos_b);
}

}  // namespace quorda
