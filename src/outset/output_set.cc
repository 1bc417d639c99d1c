// Naming the output set, appending to its hydrometeor and header files and committing its heads.
//
// A save appends the particle buffer to the hydrometeor file with one write; a commit then syncs
// it, writes the header file's head and syncs it, writes the index file's minute tables and syncs
// them, and writes the last saved line last: that line, 8 bytes within one sector, is the commit
// a later run resumes from.
#include "outset/output_set.h"

#include <cerrno>
#include <climits>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"

namespace quorda {

namespace {

// Tags of the failed appends of a main header record to the header and hydrometeor files.
constexpr char kHdSizeTag[] = " main_hr02 ";
constexpr char kHdAppendTag[] = " main_hr03 ";
constexpr char kHydAppendTag[] = " main_hr06 ";

// Tags of failed writes and syncs of a save.
constexpr const char* kTagAppendFailed = " net_wr02 ";
constexpr const char* kTagStreamTooLong = " net_wr03 ";
constexpr const char* kTagHdHeadFailed = " net_wr05 ";
constexpr const char* kTagHdSyncFailed = " net_wr07 ";
constexpr const char* kTagAbhHeadFailed = " net_wr09 ";
constexpr const char* kTagAbhSyncFailed = " net_wr12 ";
constexpr const char* kTagHydSyncFailed = " net_wr14 ";

// Writes the index file's head: the minute tables reach the disk first, then the 64-bit last saved
// line (low word, then high word) is written with one write within one sector, so that a power
// cut leaves the old line or the new one, never a mix of both heads. Tables newer than the line
// restart the cameras where their own save's tables would.
void commit_abh_head(Diag& diag, OutFile& abh, const RawMinuteTables& tables, uint64_t last_saved_line,
                     bool final_save) {
  uint8_t head[kAbhSavedSize];
  encode_abh_head(tables.a, tables.b, last_saved_line, head);
  if (!abh.write_at(0, head, kAbhLastSavedLineOffset)) fatal_tag(diag, kTagAbhHeadFailed);
  if (!abh.sync()) fatal_tag(diag, kTagAbhSyncFailed);
  if (!abh.write_at(kAbhLastSavedLineOffset, head + kAbhLastSavedLineOffset,
                    kAbhSavedSize - kAbhLastSavedLineOffset))
    fatal_tag(diag, kTagAbhHeadFailed);
  if (final_save && !abh.sync()) fatal_tag(diag, kTagAbhSyncFailed);
}

}  // namespace

void name_output_set(OutputSet& out, const std::string& name, const std::string& hyd_folder,
                     const std::string& abh_folder, int32_t day) {
  out.hyd_day = day;
  out.abh_name = abh_folder + name + ".abh";
  out.hyd_name = hyd_folder + name + ".hyd";
  out.hd_name = hyd_folder + name + ".hd";
  out.lock_name = abh_folder + name + ".lock";
}

void append_main_header(Diag& diag, OutputSet& out, StreamFraming& framing, const uint8_t* record) {
  const int64_t end = out.hd_stream.size();
  if (end < 0) fatal_tag(diag, kHdSizeTag);
  if (!out.hd_stream.write_at(end, record, kMainHeaderSize)) fatal_tag(diag, kHdAppendTag);
  if (!out.hyd_stream.write_at(out.hyd_end, record, kMainHeaderSize)) fatal_tag(diag, kHydAppendTag);
  out.hyd_end += static_cast<int32_t>(kMainHeaderSize);
  framing.hyd_unsynced = true;
  framing.file_last_record_len = static_cast<int16_t>(kMainHeaderSize);
}

void append_particle_records(Diag& diag, OutputSet& out, StreamFraming& framing,
                             std::span<const uint8_t> bytes) {
  if (static_cast<int64_t>(out.hyd_end) + static_cast<int64_t>(bytes.size()) > INT32_MAX) {
    errno = EFBIG;
    fatal_tag(diag, kTagStreamTooLong);
  }
  if (!out.hyd_stream.write_at(out.hyd_end, bytes.data(), bytes.size())) fatal_tag(diag, kTagAppendFailed);
  out.hyd_stream.start_writeback(out.hyd_end, bytes.size());
  out.hyd_end += static_cast<int32_t>(bytes.size());
  framing.hyd_unsynced = true;
  framing.file_last_record_len = framing.last_record_len;
}

void commit_output_set(Diag& diag, OutputSet& out, StreamFraming& framing, const RawMinuteTables& tables,
                       bool final_save) {
  // The stream's bytes reach the disk before a head that counts them.
  if (framing.hyd_unsynced) {
    if (!out.hyd_stream.sync()) fatal_tag(diag, kTagHydSyncFailed);
    framing.hyd_unsynced = false;
  }
  // pos_pix entries at or beyond the file's end belong to particles still buffered: left out.
  uint8_t hd_head[kHdHeadSize];
  for (int i = 0; i < kMinutes; ++i) {
    const int32_t v = framing.pos_pix[i];
    put_minute_entry(hd_head, i, v >= out.hyd_end && !is_first_minute_start(i, v) ? kNoRecord : v);
  }
  put_i16(hd_head + kHdLastRecordLenOffset, framing.file_last_record_len);
  if (!out.hd_stream.write_at(0, hd_head, sizeof hd_head)) fatal_tag(diag, kTagHdHeadFailed);
  hprintf(diag, "hd_nam=%s\n", out.hd_name);
  // The header file's head reaches the disk before the commit record.
  if (!out.hd_stream.sync()) fatal_tag(diag, kTagHdSyncFailed);
  commit_abh_head(diag, out.abh_stream, tables, framing.last_saved_line, final_save);
}

}  // namespace quorda
