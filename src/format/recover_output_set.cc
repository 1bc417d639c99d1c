// Recovery of an output set at the start of a resumed run.
#include "format/recover_output_set.h"

#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/check_output_set.h"
#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"

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

// The raw-file positions of the index file must lie within the raw file.
std::string check_raw_positions(std::span<const uint8_t> abh, int64_t raw_size) {
  for (int t = 0; t < 2; ++t) {
    const char* name = t == 0 ? "posa_bf" : "posb_bf";
    const uint8_t* table = abh.data() + (t == 0 ? kAbhMinutePosAOffset : kAbhMinutePosBOffset);
    for (int i = 0; i < kMinutes; ++i) {
      const int32_t v = get_minute_entry(table, i);
      if (v < 0 || v > raw_size)
        return std::string(".abh: ") + name + "[" + num(i) + "]=" + num(v) +
               " lies outside the raw file of " + num(raw_size) + " bytes";
    }
  }
  return "";
}

}  // namespace

RecoveryPlan plan_recovery(const SetOnDisk& set) {
  const bool hd_whole = set.hd_exists && set.hd.size() >= kHdHeadSize;
  const bool abh_whole = set.abh_exists && set.abh.size() >= kAbhCreatedSize;
  const HydWalk walk = walk_hyd(set.hyd);
  bool any_particle = false;
  for (const HydEntry& e : walk.records) any_particle = any_particle || !e.header;

  if (!hd_whole && !set.hyd.empty())
    return damaged(std::string(".hd: ") + (set.hd_exists ? "shorter than its head" : "missing") +
                   ", while the .hyd file holds " + num(static_cast<int64_t>(set.hyd.size())) + " bytes");
  if (!abh_whole && any_particle)
    return damaged(std::string(".abh: ") + (set.abh_exists ? "shorter than its head" : "missing") +
                   ", while the .hyd file holds particle records");

  RecoveryPlan p;
  p.new_hd = !hd_whole;
  p.new_abh = !abh_whole;
  uint64_t last_saved_line = 0;
  if (abh_whole) {
    const std::string pos_fault = check_raw_positions(set.abh, set.raw_size);
    if (!pos_fault.empty()) return damaged(pos_fault);
    last_saved_line = read_last_saved_line(set.abh);
  }

  // The header file's main header records, whole ones only.
  const std::span<const uint8_t> hd_recs =
      hd_whole ? set.hd.subspan(kHdHeadSize) : std::span<const uint8_t>();
  const size_t n_hd = hd_recs.size() / kMainHeaderSize;

  // The first particle record that carries the last saved line: the saved stream reaches at least to it.
  // Before the first save of particles (last saved line 0) nothing is required.
  size_t carrier = 0;
  if (last_saved_line > 0) {
    carrier = walk.records.size();
    for (size_t k = 0; k < walk.records.size(); ++k) {
      const HydEntry& e = walk.records[k];
      if (!e.header && carries_line(e.t1, last_saved_line)) {
        carrier = k;
        break;
      }
    }
    if (carrier == walk.records.size())
      return damaged(".abh: lastpix_y " + std::to_string(last_saved_line) +
                     ", no particle record of the .hyd file carries that line" +
                     (walk.ok() ? std::string() : " (the .hyd file is readable up to " + walk.error + ")"));
  }

  // The kept records: up to the first particle beyond the save or main header record that the
  // header file does not hold.
  size_t kept = 0;
  size_t n_headers = 0;
  for (; kept < walk.records.size(); ++kept) {
    const HydEntry& e = walk.records[kept];
    if (e.header) {
      const bool held = n_headers < n_hd && std::memcmp(hd_recs.data() + n_headers * kMainHeaderSize,
                                                        set.hyd.data() + e.offset, kMainHeaderSize) == 0;
      if (!held) {
        if (kept < carrier)
          return damaged(".hd: main header record " + num(static_cast<int64_t>(n_headers)) +
                         " is not the one at " + num(e.offset) + " in the .hyd file, before its last save");
        break;
      }
      ++n_headers;
    } else if (!saved_line(e.t1, last_saved_line)) {
      if (kept < carrier)
        return damaged(".hyd: the particle record at " + num(e.offset) + " lies beyond lastpix_y " +
                       std::to_string(last_saved_line) +
                       " of the .abh file but before the record that carries it");
      break;
    }
  }

  HydWalk kept_walk;
  kept_walk.records.assign(walk.records.begin(), walk.records.begin() + static_cast<std::ptrdiff_t>(kept));
  const int64_t end = kept == 0 ? 0 : kept_walk.records.back().offset + kept_walk.records.back().length;
  p.hyd_keep = end;
  p.hyd_cut_bytes = static_cast<int64_t>(set.hyd.size()) - end;
  p.hyd_cut_records = static_cast<int>(walk.records.size() - kept);
  const HydEntry* last_whole = walk.records.empty() ? nullptr : &walk.records.back();
  const int64_t whole_end = last_whole == nullptr ? 0 : last_whole->offset + last_whole->length;
  p.hyd_torn_tail = whole_end < static_cast<int64_t>(set.hyd.size());

  p.hd_keep = static_cast<int64_t>(kHdHeadSize + n_headers * kMainHeaderSize);
  p.hd_cut_records = hd_whole ? static_cast<int>(n_hd - n_headers) : 0;
  p.hd_torn_tail = hd_whole && hd_recs.size() % kMainHeaderSize != 0;

  // The head: pos_pix entries of records that are cut are cleared; the last record length is the last kept
  // one.
  std::vector<int32_t> pos_pix(kMinutes, -1);
  pos_pix[0] = 0;
  if (hd_whole) pos_pix = read_pos_pix(set.hd);
  for (int i = 0; i < kMinutes; ++i) {
    int32_t& v = pos_pix[static_cast<size_t>(i)];
    if (v != -1 && v >= end && !(i == 0 && v == 0)) v = -1;
  }
  double first_fr = 0;
  for (const HydEntry& e : kept_walk.records) {
    if (e.header) {
      first_fr = e.line_fr;
      break;
    }
  }
  const std::string pos_fault = check_pos_pix(kept_walk, pos_pix, first_fr);
  if (!pos_fault.empty()) return damaged(".hd: " + pos_fault);
  p.hd_head.resize(kHdHeadSize);
  encode_minute_table(std::span<const int32_t, kMinutes>(pos_pix.data(), kMinutes), p.hd_head.data());
  const int16_t last_record_len =
      kept == 0 ? int16_t{0} : static_cast<int16_t>(kept_walk.records.back().length);
  put_i16(p.hd_head.data() + kHdLastRecordLenOffset, last_record_len);
  p.hd_head_changed = !hd_whole || std::memcmp(p.hd_head.data(), set.hd.data(), kHdHeadSize) != 0;

  for (const HydEntry& e : kept_walk.records) {
    if (e.header) continue;
    if (p.any_particle && e.t1 == p.last_t1) {
      ++p.last_t1_count;
    } else {
      p.any_particle = true;
      p.last_t1 = e.t1;
      p.last_t1_count = 1;
    }
  }
  return p;
}

}  // namespace quorda
