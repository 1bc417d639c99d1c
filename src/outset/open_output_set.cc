// Opening an output set. Before anything is appended, the set is brought back to its last save:
// records written after it are cut and the header file's head is made to agree with what is kept;
// what was cut is written to the error stream. The index file is created only after the other two
// files: its existence marks a set that has begun.
#include "outset/open_output_set.h"

#include <array>
#include <cerrno>
#include <climits>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"

namespace quorda {

namespace {

// Tags of the failed steps of opening the set: reading, opening, cutting, measuring, writing and
// syncing each file.
constexpr char kHydOpenTag[] = " pixfil01 ";
constexpr char kHydCutTag[] = " pixfil02 ";
constexpr char kHydSizeTag[] = " pixfil03 ";
constexpr char kAbhOpenTag[] = " pixfil04 ";
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

// What the recovery refused or cut.
constexpr char kSetRefused[] =
    " pixfil: %s \n the output set cannot be continued: nothing was changed; remove %s, %s and %s to "
    "convert the day anew \n";
constexpr char kHydCutBack[] = " pixfil: %s cut back to its last save: %lld bytes, %d whole records%s \n";
constexpr char kHdCutBack[] = " pixfil: %s cut back to its last save: %d main header records%s \n";
constexpr char kAndATornOne[] = " and a torn one";
constexpr char kHdHeadSetBack[] = " pixfil: %s head set back to the records kept \n";
constexpr char kAbhTablesCutBack[] = " pixfil: %s minute tables cut back to their last whole entries \n";

FoundFile read_found(Files& files, Diag& diag, const std::string& path, const char* tag) {
  FoundFile f;
  f.exists = files.exists(path);
  if (!f.exists) return f;
  OutFile in;
  if (!in.open(files, path, false) || !in.read_all(&f.bytes)) fatal_tag(diag, tag);
  in.close();
  return f;
}

[[noreturn]] void refuse_damaged_set(Diag& diag, const OutputSet& out, const std::string& fault) {
  // The fault names the file by its extension; the message names it by its path.
  std::string text = fault;
  const std::string ext = fault.substr(0, fault.find(':'));
  const std::string& path = ext == ".hyd" ? out.hyd_name : ext == ".hd" ? out.hd_name : out.abh_name;
  text.replace(0, ext.size(), path);
  fatal(diag, kSetRefused, text.c_str(), out.hyd_name.c_str(), out.hd_name.c_str(), out.abh_name.c_str());
}

void report_cuts(Diag& diag, const OutputSet& out, const RecoveryPlan& p) {
  if (p.hyd_cut_bytes > 0)
    errf(diag, kHydCutBack, out.hyd_name.c_str(), static_cast<long long>(p.hyd_cut_bytes), p.hyd_cut_records,
         p.hyd_torn_tail ? kAndATornOne : "");
  if (p.hd_cut_records > 0 || p.hd_torn_tail)
    errf(diag, kHdCutBack, out.hd_name.c_str(), p.hd_cut_records, p.hd_torn_tail ? kAndATornOne : "");
  if (p.hd_head_changed && !p.new_hd) errf(diag, kHdHeadSetBack, out.hd_name.c_str());
  if (p.abh_tables_trimmed) errf(diag, kAbhTablesCutBack, out.abh_name.c_str());
}

void open_hyd(Files& files, Diag& diag, OutputSet& out, const RecoveryPlan& p, bool existed) {
  if (!out.hyd_stream.open(files, out.hyd_name, true)) fatal_tag(diag, kHydOpenTag);
  if (existed && p.hyd_cut_bytes > 0) {
    if (!out.hyd_stream.truncate(p.hyd_keep) || !out.hyd_stream.sync()) fatal_tag(diag, kHydCutTag);
  }
  const int64_t end = out.hyd_stream.size();
  if (end < 0) fatal_tag(diag, kHydSizeTag);
  if (end > INT32_MAX) {
    errno = EOVERFLOW;
    fatal_tag(diag, kHydSizeTag);
  }
  out.hyd_end = static_cast<int32_t>(end);
}

// Opens the header file, cuts it to the kept records and writes its head where it changed.
void open_hd(Files& files, Diag& diag, OutputSet& out, const RecoveryPlan& p, bool existed) {
  if (!out.hd_stream.open(files, out.hd_name, true)) fatal_tag(diag, existed ? kHdOpenTag : kHdCreateTag);
  const int64_t size = out.hd_stream.size();
  if (size < 0) fatal_tag(diag, kHdSizeTag);
  if (size > p.hd_keep && !out.hd_stream.truncate(p.hd_keep)) fatal_tag(diag, kHdCutTag);
  if (p.hd_head_changed || size < p.hd_keep) {
    if (!out.hd_stream.write_at(0, p.hd_head.data(), p.hd_head.size())) fatal_tag(diag, kHdHeadWriteTag);
  }
  if (p.hd_head_changed || size != p.hd_keep) {
    if (!out.hd_stream.sync()) fatal_tag(diag, kHdSyncTag);
  }
}

// Restores pos_pix, the last record length and the resume point from the plan.
void restore_framing(StreamFraming& w, const RecoveryPlan& p) {
  decode_minute_table(p.hd_head.data(), w.pos_pix);
  w.last_record_len = get_i16(p.hd_head.data() + kHdLastRecordLenOffset);
  w.file_last_record_len = w.last_record_len;
  // Entry 1441 is not examined.
  for (int i = 0; i <= kMinutes - 2; ++i) {
    if (w.pos_pix[i] != kNoRecord) w.pix_minute = static_cast<int16_t>(i);
  }
  w.resume_drop = p.any_particle;
  w.resume_t1 = p.last_t1;
  w.resume_ties = p.last_t1_count;
}

// Makes the entries of files just created in `dir` durable: a power cut must not lose a file of a
// set that the index file's existence says has begun.
void sync_new_entries(Files& files, Diag& diag, const std::string& dir, const char* tag) {
  FileError err;
  if (files.sync_folder(dir, &err)) return;
  errno = err.code;
  fatal_tag(diag, tag);
}

}  // namespace

FoundSet read_output_set(Files& files, Diag& diag, const OutputSet& out) {
  FoundSet found;
  found.hyd = read_found(files, diag, out.hyd_name, kHydOpenTag);
  found.hd = read_found(files, diag, out.hd_name, kHdOpenTag);
  found.abh = read_found(files, diag, out.abh_name, kAbhOpenTag);
  return found;
}

RecoveryPlan plan_set_recovery(Diag& diag, const OutputSet& out, const FoundSet& found, int64_t raw_size,
                               RawHeads* raw_heads, const std::string& hyd_file) {
  SetOnDisk set;
  set.hyd_exists = found.hyd.exists;
  set.hd_exists = found.hd.exists;
  set.abh_exists = found.abh.exists;
  set.hyd = found.hyd.bytes;
  set.hd = found.hd.bytes;
  set.abh = found.abh.bytes;
  set.raw_size = raw_size;
  set.pix_file = hyd_file;
  set.raw_heads = raw_heads;
  RecoveryPlan plan = plan_recovery(set);
  if (plan.damaged) refuse_damaged_set(diag, out, plan.fault);
  report_cuts(diag, out, plan);
  return plan;
}

void open_stream_files(Files& files, Diag& diag, OutputSet& out, StreamFraming& framing,
                       const RecoveryPlan& plan, const FoundSet& found, const std::string& hyd_folder) {
  open_hyd(files, diag, out, plan, found.hyd.exists);
  hprintf(diag, "hd_exist=%d\n", !plan.new_hd);
  hprintf(diag, "hd_nam=%s\n", out.hd_name);
  open_hd(files, diag, out, plan, found.hd.exists);
  if (!found.hyd.exists || plan.new_hd) sync_new_entries(files, diag, hyd_folder, kHydFolderSyncTag);
  restore_framing(framing, plan);
}

void open_index_file(Files& files, Diag& diag, OutputSet& out, StreamFraming& framing,
                     const RecoveryPlan& plan, const std::string& abh_folder) {
  hprintf(diag, "abh_exist=%d\n", !plan.new_abh);
  hprintf(diag, "abh_nam=%s\n", out.abh_name);
  if (!out.abh_stream.open(files, out.abh_name, true))
    fatal_tag(diag, plan.new_abh ? kAbhCreateTag : kAbhOpenTag);
  if (!plan.new_abh) {
    // A saved file also holds the high word; one written at creation ends before it.
    framing.last_saved_line = read_last_saved_line(plan.abh);
    return;
  }
  const std::array<int32_t, kMinutes> no_block{};
  uint8_t head[kAbhSavedSize];
  encode_abh_head(no_block, no_block, 0, head);
  if (!out.abh_stream.truncate(0) || !out.abh_stream.write_at(0, head, kAbhCreatedSize))
    fatal_tag(diag, kAbhWriteTag);
  if (!out.abh_stream.sync()) fatal_tag(diag, kAbhSyncTag);
  framing.last_saved_line = 0;
  sync_new_entries(files, diag, abh_folder, kAbhFolderSyncTag);
}

}  // namespace quorda
