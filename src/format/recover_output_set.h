// Recovery of an output set at the start of a resumed run: what to keep of the hydrometeor stream
// (".hyd") and of the header file (".hd") so that the set is back at its last save.
//
// A save appends the writer's buffer to the stream, then writes the header file's head, then the
// index file's head (".abh"): the index file's head is the commit record. Its last saved line is the
// truncated line number t1 of the last particle record saved, and the particle records of the
// stream rise in t1, so the saved part of the stream is every record up to the first particle
// record whose truncated t1 lies beyond the last saved line. Main header records reach the header file before
// the stream; one that reached the stream but not the header file is cut from the stream, one that
// reached the header file but not the stream is cut from the header file (the run meets it again in
// the raw file). The header file's head is made to agree with what is kept: pos_pix entries at or
// beyond the kept end are cleared, the last record length is that of the last kept record.
//
// A set that cannot be brought back this way is reported, not changed: heads that contradict the
// stream (a last saved line that no saved record carries, a pos_pix entry that is not a kept particle
// record), an index file whose positions lie beyond the raw file, a stream without its header file
// or, holding particle records, without its index file.
//
// The planner only reads the bytes it is given (untrusted; it never looks past them); the caller
// applies the plan. Single-threaded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

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
  int64_t raw_size = 0;  // length of the raw file now
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
};

RecoveryPlan plan_recovery(const SetOnDisk& set);

}  // namespace quorda
