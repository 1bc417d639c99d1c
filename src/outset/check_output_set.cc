// Consistency check of a converter output set.
#include "outset/check_output_set.h"

#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"

namespace quorda {

namespace {

std::string num(int64_t v) {
  return std::to_string(v);
}

// The raw-file minute tables of cameras A and B: a run fills them from minute 0 up, so the entries
// up to the last set one (not 0) do not decrease.
void check_raw_index(std::span<const uint8_t> table, const char* name, std::vector<std::string>& faults) {
  int last_set = -1;
  for (int i = 0; i < kMinutes; ++i)
    if (get_minute_entry(table.data(), i) != 0) last_set = i;
  for (int i = 1; i <= last_set; ++i) {
    const int32_t v = get_minute_entry(table.data(), i);
    const int32_t before = get_minute_entry(table.data(), i - 1);
    if (v < before) {
      faults.push_back(std::string(".abh: ") + name + "[" + num(i) + "]=" + num(v) + " lies before " + name +
                       "[" + num(i - 1) + "]=" + num(before));
      return;
    }
  }
}

// The particle records rise in t1; two in a row with the same t1 and the same bytes are one
// particle written twice (the back link aside).
void check_t1_order(const HydWalk& walk, std::span<const uint8_t> hyd, std::vector<std::string>& faults) {
  const HydEntry* prev = nullptr;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    if (prev != nullptr && !(e.t1 >= prev->t1)) {
      faults.push_back(".hyd: the particle record at " + num(e.offset) + " has t1 " + std::to_string(e.t1) +
                       ", below the t1 " + std::to_string(prev->t1) + " of the one at " + num(prev->offset));
      return;
    }
    if (prev != nullptr && e.t1 == prev->t1 && e.length == prev->length &&
        std::memcmp(hyd.data() + e.offset + pixhead::kT1, hyd.data() + prev->offset + pixhead::kT1,
                    static_cast<size_t>(e.length) - pixhead::kT1) == 0) {
      faults.push_back(".hyd: the particle record at " + num(e.offset) + " repeats the one at " +
                       num(prev->offset));
      return;
    }
    prev = &e;
  }
}

void check_abh(const HydWalk& walk, std::span<const uint8_t> abh, std::vector<std::string>& faults) {
  if (abh.size() != kAbhCreatedSize && abh.size() != kAbhSavedSize) {
    faults.push_back(".abh: " + num(static_cast<int64_t>(abh.size())) + " bytes, not " +
                     num(kAbhCreatedSize) + " or " + num(kAbhSavedSize));
    if (abh.size() < kAbhCreatedSize) return;
  }
  check_raw_index(abh.subspan(0, kMinuteTableBytes), "posa_bf", faults);
  check_raw_index(abh.subspan(kAbhMinutePosBOffset, kMinuteTableBytes), "posb_bf", faults);
  if (!walk.ok()) return;
  const HydEntry* last = nullptr;
  for (const HydEntry& e : walk.records)
    if (!e.header) last = &e;
  const uint64_t last_saved_line = read_last_saved_line(abh);
  // The writer stores the truncated t1 of the last particle it saved, 0 before the first (and for
  // a t1 that is not above 0). A t1 of 2^64 or more has no truncation that the last saved line could hold.
  constexpr double kBeyondLastSavedLine = 18446744073709551616.0;  // 2^64
  const double t1 = last != nullptr ? last->t1 : 0.0;
  const bool matches = !(t1 > 0.0)                  ? last_saved_line == 0
                       : t1 >= kBeyondLastSavedLine ? false
                                                    : last_saved_line == static_cast<uint64_t>(t1);
  if (!matches) {
    std::string what = last == nullptr ? "the stream holds no particle record"
                                       : "the last particle record (at " + num(last->offset) + ") has t1 " +
                                             std::to_string(last->t1);
    faults.push_back(".abh: lastpix_y " + std::to_string(last_saved_line) + ", " + what);
  }
}

// The first entry that is not the one a run writes.
std::string compare_pos_pix(const std::vector<int32_t>& have, const std::vector<int32_t>& want) {
  for (size_t i = 0; i < want.size() && i < have.size(); ++i) {
    if (have[i] != want[i])
      return "pos_pix[" + num(static_cast<int64_t>(i)) + "]=" + num(have[i]) + ", the stream gives " +
             num(want[i]);
  }
  return "";
}

void check_hd(const HydWalk& walk, const OutputSetBytes& set, std::vector<std::string>& faults) {
  const std::span<const uint8_t> hd = set.hd;
  if (hd.size() < kHdHeadSize) {
    faults.push_back(".hd: " + num(static_cast<int64_t>(hd.size())) + " bytes, shorter than its " +
                     num(kHdHeadSize) + "-byte head");
    return;
  }
  const size_t rec_bytes = hd.size() - kHdHeadSize;
  if (rec_bytes % kMainHeaderSize != 0)
    faults.push_back(".hd: its main header records take " + num(static_cast<int64_t>(rec_bytes)) +
                     " bytes, not a whole number of " + num(kMainHeaderSize) + "-byte records");
  if (!walk.ok()) return;

  // The same main header records, byte for byte, in the header file and in the stream.
  const size_t n_hd = rec_bytes / kMainHeaderSize;
  size_t n_hyd = 0;
  char name[mh::kPixFileSize] = {};
  set.pix_file.copy(name, mh::kPixFileSize - 1);
  for (const HydEntry& e : walk.records) {
    if (!e.header) continue;
    if (!set.pix_file.empty() &&
        std::memcmp(set.hyd.data() + e.offset + mh::kPixFile, name, sizeof name) != 0) {
      faults.push_back(".hyd: the main header record at " + num(e.offset) + " belongs to another file than " +
                       set.pix_file);
      return;
    }
    if (n_hyd < n_hd && std::memcmp(hd.data() + kHdHeadSize + n_hyd * kMainHeaderSize,
                                    set.hyd.data() + e.offset, kMainHeaderSize) != 0)
      faults.push_back(".hd: main header record " + num(static_cast<int64_t>(n_hyd)) +
                       " differs from the .hyd record at " + num(e.offset));
    ++n_hyd;
  }
  if (n_hyd != n_hd)
    faults.push_back(".hd: " + num(static_cast<int64_t>(n_hd)) +
                     " main header records, the .hyd file holds " + num(static_cast<int64_t>(n_hyd)));

  const std::vector<int32_t> pos_pix = read_pos_pix(hd);
  // A particle before any main header record: the first header's line frequency is the best guess.
  double first_fr = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header) {
      first_fr = e.line_fr;
      break;
    }
  }
  std::string pos_fault = check_pos_pix(walk, pos_pix, first_fr);
  if (pos_fault.empty()) pos_fault = compare_pos_pix(pos_pix, expected_pos_pix(walk));
  if (!pos_fault.empty()) faults.push_back(".hd: " + pos_fault);

  const int16_t last_record_len = get_i16(hd.data() + kHdLastRecordLenOffset);
  const int32_t last_len = walk.records.empty() ? 0 : walk.records.back().length;
  if (last_record_len != last_len)
    faults.push_back(".hd: oldlen " + num(last_record_len) + ", the last record of the .hyd file is " +
                     num(last_len) + " bytes");
}

}  // namespace

std::vector<int32_t> expected_pos_pix(const HydWalk& walk) {
  std::vector<int32_t> pos_pix(kMinutes, kNoRecord);
  pos_pix[0] = 0;
  int entered = 0;
  double fr = 0.0;
  for (const HydEntry& e : walk.records) {
    if (e.header) {
      fr = e.line_fr;
      continue;
    }
    const int minute = minute_of_line(e.t1, fr);
    if (minute == kNoMinute || minute <= entered) continue;
    for (int i = entered + 1; i <= minute; ++i) pos_pix[static_cast<size_t>(i)] = e.offset;
    entered = minute;
  }
  return pos_pix;
}

std::vector<std::string> check_output_set(const HydWalk& walk, const OutputSetBytes& set) {
  std::vector<std::string> faults;
  if (!walk.ok()) faults.push_back(".hyd: " + walk.error);
  check_t1_order(walk, set.hyd, faults);
  check_hd(walk, set, faults);
  check_abh(walk, set.abh, faults);
  return faults;
}

}  // namespace quorda
