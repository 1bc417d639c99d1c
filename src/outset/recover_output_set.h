// Recovery of an output set at the start of a resumed run: what to keep of the hydrometeor stream
// (".hyd") and of the header file (".hd") so that the set is back at its last save.
//
// A save appends the writer's buffer to the stream and syncs it, writes the header file's head and
// syncs it, then writes the index file's (".abh") minute tables and syncs them, and last writes its
// last saved line (8 bytes within one sector, with one write): that line is the commit. Its value is
// the truncated line number t1 of the last particle record saved, and the particle records of the
// stream rise in t1, so the saved part of the stream is every record up to the first particle record
// whose truncated t1 lies beyond the last saved line (beyond the record that carries it, also up to
// the first one that falls or repeats: a torn write may have left anything there). Main header
// records reach the header file before the stream; one that reached the stream but not the header
// file is cut from the stream, one that reached the header file but not the stream is cut from the
// header file (the run meets it again in the raw file). The header file's head is written anew as a
// run writes it for the kept stream: its pos_pix and last record length follow from the records.
// Minute tables newer than the last saved line (a cut between the two writes) restart each camera
// where the tables of that save would; tables torn in their write are cut back to their entries
// before the first hole (trim_torn_tables), which is what a run had written at an earlier moment.
//
// The set so brought back must pass check_output_set, and the index file's raw positions must be
// line block heads of their camera as check_raw_positions finds them in the raw file; otherwise the
// set is reported, not changed, as it is when a committed record contradicts the commit, the index
// file has no size a run gives it, or a stream lacks its header file or, holding particle records,
// its index file.
//
// The planner only reads the bytes it is given (untrusted; it never looks past them) and the raw
// file through the RawHeads it is handed; the caller applies the plan. Single-threaded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "outset/raw_positions.h"

namespace quorda {

// The files of an output set as the run finds them. A missing file has `*_exists` false and no
// bytes.
struct SetOnDisk {
  bool hyd_exists = false;
  bool hd_exists = false;
  bool abh_exists = false;
  std::span<const uint8_t> hyd;
  std::span<const uint8_t> hd;
  std::span<const uint8_t> abh;
  int64_t raw_size = 0;           // length of the raw file now
  RawHeads* raw_heads = nullptr;  // the raw file's records; none: only the raw file's length bounds
  std::string pix_file;           // name and extension of the .hyd file, which its main header records hold
};

struct RecoveryPlan {
  // The set cannot be brought back: `fault` names the file (".hyd", ".hd" or ".abh") and says what
  // contradicts what. Nothing else in the plan is meaningful then.
  bool damaged = false;
  std::string fault;

  // A header file or index file that is missing or shorter than its head while the stream holds
  // nothing that needs it: it is created anew.
  bool new_hd = false;
  bool new_abh = false;

  int64_t hyd_keep = 0;          // bytes of the stream to keep
  int64_t hyd_cut_bytes = 0;     // bytes cut from its end
  int hyd_cut_records = 0;       // whole records among them
  bool hyd_torn_tail = false;    // and a record cut off by the end of the file
  int64_t hd_keep = 0;           // bytes of the header file to keep: the head and the kept records
  int hd_cut_records = 0;        // main header records cut from the header file
  bool hd_torn_tail = false;     // and the bytes of a record cut short
  std::vector<uint8_t> hd_head;  // the header file's head (pos_pix, last record length) as it must be
  bool hd_head_changed = false;  // differs from the head the file holds

  // The stream's last kept particle record: the resumed run drops the particles it makes again,
  // those before this t1 and the first `last_t1_count` at this t1.
  bool any_particle = false;
  double last_t1 = 0;
  int32_t last_t1_count = 0;

  // The index file as the resumed run takes it: its minute tables cut back where a torn write of
  // them left holes (`abh_tables_trimmed`; the run fills them again).
  std::vector<uint8_t> abh;
  bool abh_tables_trimmed = false;

  // The line frequency of the last kept main header record (0 when none) and the point each camera
  // restarts from in the raw file.
  double line_fr = 0;
  RestartPoint restart;
};

RecoveryPlan plan_recovery(const SetOnDisk& set);

}  // namespace quorda
