// Recovery of an output set at the start of a resumed run.
#include "outset/recover_output_set.h"

#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"
#include "outset/check_output_set.h"
#include "outset/raw_positions.h"

namespace quorda {

namespace {

std::string num(int64_t v) {
  return std::to_string(v);
}

// Whether a particle's line number lies at or before the last saved line, as the writer truncated
// it. A t1 that is not a number lies beyond every save.
bool saved_line(double t1, uint64_t last_saved_line) {
  return std::trunc(t1) <= static_cast<double>(last_saved_line);
}

bool carries_line(double t1, uint64_t last_saved_line) {
  return std::trunc(t1) == static_cast<double>(last_saved_line);
}

RecoveryPlan damaged(std::string fault) {
  RecoveryPlan p;
  p.damaged = true;
  p.fault = std::move(fault);
  return p;
}

// Whether the particle record `e` may follow `prev` in a stream one run writes: its t1 is not
// below and it is not the same particle again.
bool follows(std::span<const uint8_t> hyd, const HydEntry& prev, const HydEntry& e) {
  if (!(e.t1 >= prev.t1)) return false;
  return !(e.t1 == prev.t1 && e.length == prev.length &&
           std::memcmp(hyd.data() + e.offset + pixhead::kT1, hyd.data() + prev.offset + pixhead::kT1,
                       static_cast<size_t>(e.length) - pixhead::kT1) == 0);
}

// The header file's head for the kept records, as a run writes it.
std::vector<uint8_t> head_for(const HydWalk& kept) {
  std::vector<uint8_t> head(kHdHeadSize);
  const std::vector<int32_t> pos_pix = expected_pos_pix(kept);
  encode_minute_table(std::span<const int32_t, kMinutes>(pos_pix.data(), kMinutes), head.data());
  const int16_t last_len =
      kept.records.empty() ? int16_t{0} : static_cast<int16_t>(kept.records.back().length);
  put_i16(head.data() + kHdLastRecordLenOffset, last_len);
  return head;
}

}  // namespace

namespace {

// The first particle record that carries the last saved line: the saved stream reaches at least to
// it. Before the first save of particles (last saved line 0) nothing is required. `records.size()`
// when none does.
size_t carrier_of(const HydWalk& walk, uint64_t last_saved_line) {
  if (last_saved_line == 0) return 0;
  for (size_t k = 0; k < walk.records.size(); ++k) {
    const HydEntry& e = walk.records[k];
    if (!e.header && carries_line(e.t1, last_saved_line)) return k;
  }
  return walk.records.size();
}

struct Kept {
  size_t records = 0;  // records of the stream kept
  size_t headers = 0;  // main header records among them
  std::string fault;   // the set cannot be brought back
};

// The kept records: up to the first particle beyond the save, main header record that the header
// file does not hold, or (after the carrier, where a torn write may have left anything) particle
// that does not follow the one before. Before the carrier these contradict the commit.
Kept kept_records(const SetOnDisk& set, const HydWalk& walk, std::span<const uint8_t> hd_recs,
                  uint64_t last_saved_line, size_t carrier) {
  const size_t n_hd = hd_recs.size() / kMainHeaderSize;
  Kept k;
  const HydEntry* prev = nullptr;
  for (; k.records < walk.records.size(); ++k.records) {
    const HydEntry& e = walk.records[k.records];
    const bool committed = k.records < carrier;
    if (e.header) {
      const bool held = k.headers < n_hd && std::memcmp(hd_recs.data() + k.headers * kMainHeaderSize,
                                                        set.hyd.data() + e.offset, kMainHeaderSize) == 0;
      if (held) {
        ++k.headers;
        continue;
      }
      if (committed)
        k.fault = ".hd: main header record " + num(static_cast<int64_t>(k.headers)) + " is not the one at " +
                  num(e.offset) + " in the .hyd file, before its last save";
      return k;
    }
    if (!saved_line(e.t1, last_saved_line)) {
      if (committed)
        k.fault = ".hyd: the particle record at " + num(e.offset) + " lies beyond lastpix_y " +
                  std::to_string(last_saved_line) + " of the .abh file but before the record that carries it";
      return k;
    }
    if (k.records > carrier && prev != nullptr && !follows(set.hyd, *prev, e)) return k;
    prev = &e;
  }
  return k;
}

// The missing or short files the stream cannot do without, and an index file of no size a run
// gives it.
std::string check_files_present(const SetOnDisk& set, const HydWalk& walk) {
  const bool hd_whole = set.hd_exists && set.hd.size() >= kHdHeadSize;
  bool any_particle = false;
  for (const HydEntry& e : walk.records) any_particle = any_particle || !e.header;
  if (!hd_whole && !set.hyd.empty())
    return std::string(".hd: ") + (set.hd_exists ? "shorter than its head" : "missing") +
           ", while the .hyd file holds " + num(static_cast<int64_t>(set.hyd.size())) + " bytes";
  if (set.abh_exists && set.abh.size() > kAbhCreatedSize && set.abh.size() != kAbhSavedSize)
    return ".abh: " + num(static_cast<int64_t>(set.abh.size())) + " bytes, not " + num(kAbhCreatedSize) +
           " or " + num(kAbhSavedSize);
  const bool abh_whole = set.abh_exists && set.abh.size() >= kAbhCreatedSize;
  if (!abh_whole && any_particle)
    return std::string(".abh: ") + (set.abh_exists ? "shorter than its head" : "missing") +
           ", while the .hyd file holds particle records";
  return "";
}

// The cuts of the plan for `kept` records of the stream and `headers` of the header file.
void set_cuts(const SetOnDisk& set, const HydWalk& walk, const Kept& kept, RecoveryPlan& p) {
  const HydEntry* last_kept = kept.records == 0 ? nullptr : &walk.records[kept.records - 1];
  p.hyd_keep = last_kept == nullptr ? 0 : last_kept->offset + last_kept->length;
  p.hyd_cut_bytes = static_cast<int64_t>(set.hyd.size()) - p.hyd_keep;
  p.hyd_cut_records = static_cast<int>(walk.records.size() - kept.records);
  const HydEntry* last_whole = walk.records.empty() ? nullptr : &walk.records.back();
  const int64_t whole_end = last_whole == nullptr ? 0 : last_whole->offset + last_whole->length;
  p.hyd_torn_tail = whole_end < static_cast<int64_t>(set.hyd.size());
  const size_t hd_rec_bytes = p.new_hd ? 0 : set.hd.size() - kHdHeadSize;
  p.hd_keep = static_cast<int64_t>(kHdHeadSize + kept.headers * kMainHeaderSize);
  p.hd_cut_records = static_cast<int>(hd_rec_bytes / kMainHeaderSize - kept.headers);
  p.hd_torn_tail = hd_rec_bytes % kMainHeaderSize != 0;
}

// The drop point: the t1 of the last kept particle record and how many kept records carry it.
void set_drop_point(const HydWalk& kept, RecoveryPlan& p) {
  for (const HydEntry& e : kept.records) {
    if (e.header) continue;
    if (p.any_particle && e.t1 == p.last_t1) {
      ++p.last_t1_count;
    } else {
      p.any_particle = true;
      p.last_t1 = e.t1;
      p.last_t1_count = 1;
    }
  }
}

}  // namespace

RecoveryPlan plan_recovery(const SetOnDisk& set) {
  const HydWalk walk = walk_hyd(set.hyd);
  const std::string missing = check_files_present(set, walk);
  if (!missing.empty()) return damaged(missing);

  RecoveryPlan p;
  p.new_hd = !(set.hd_exists && set.hd.size() >= kHdHeadSize);
  p.new_abh = !(set.abh_exists && set.abh.size() >= kAbhCreatedSize);
  // A new index file holds empty tables and no saved line.
  std::vector<uint8_t> abh(kAbhCreatedSize, 0);
  if (!p.new_abh) abh.assign(set.abh.begin(), set.abh.end());
  const uint64_t last_saved_line = read_last_saved_line(abh);

  const std::span<const uint8_t> hd_recs =
      p.new_hd ? std::span<const uint8_t>() : set.hd.subspan(kHdHeadSize);
  const size_t carrier = carrier_of(walk, last_saved_line);
  if (carrier == walk.records.size() && last_saved_line > 0)
    return damaged(".abh: lastpix_y " + std::to_string(last_saved_line) +
                   ", no particle record of the .hyd file carries that line" +
                   (walk.ok() ? std::string() : " (the .hyd file is readable up to " + walk.error + ")"));
  const Kept kept = kept_records(set, walk, hd_recs, last_saved_line, carrier);
  if (!kept.fault.empty()) return damaged(kept.fault);
  set_cuts(set, walk, kept, p);

  HydWalk kept_walk;
  kept_walk.records.assign(walk.records.begin(),
                           walk.records.begin() + static_cast<std::ptrdiff_t>(kept.records));
  // The line frequency the resumed run starts with; the minute tables as a run had written them.
  double line_fr = 0.0;
  for (const HydEntry& e : kept_walk.records)
    if (e.header) line_fr = e.line_fr;
  if (!p.new_abh) p.abh_tables_trimmed = trim_torn_tables(abh, line_fr, set.raw_heads);
  p.abh = abh;

  // The set as the plan leaves it must be one a run writes: the checker of the set judges it.
  p.hd_head = head_for(kept_walk);
  p.hd_head_changed = p.new_hd || std::memcmp(p.hd_head.data(), set.hd.data(), kHdHeadSize) != 0;
  std::vector<uint8_t> hd = p.hd_head;
  hd.insert(hd.end(), hd_recs.begin(),
            hd_recs.begin() + static_cast<std::ptrdiff_t>(kept.headers * kMainHeaderSize));
  const OutputSetBytes kept_set{set.hyd.subspan(0, static_cast<size_t>(p.hyd_keep)), hd, abh, set.pix_file};
  const std::vector<std::string> faults = check_output_set(kept_walk, kept_set);
  if (!faults.empty()) return damaged(faults.front());

  // The raw positions against the raw file.
  const std::string raw_fault = check_raw_positions(abh, line_fr, set.raw_size, set.raw_heads);
  if (!raw_fault.empty()) return damaged(raw_fault);
  p.line_fr = line_fr;
  p.restart = restart_point(abh, line_fr);
  set_drop_point(kept_walk, p);
  return p;
}

}  // namespace quorda
