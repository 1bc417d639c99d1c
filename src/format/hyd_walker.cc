// The checking walker over the hydrometeor stream and its per-minute index.
#include "format/hyd_walker.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/particle_record.h"

namespace quorda {

namespace {

constexpr int kMaxNbits = 10;

// A minute formed from a damaged t1 may lie far outside any integer type.
std::string minute_text(double minute) {
  if (minute >= INT_MIN && minute <= INT_MAX) return std::to_string(static_cast<int>(minute));
  char b[32];
  std::snprintf(b, sizeof b, "%g", minute);
  return b;
}

std::string at(int32_t offset, const std::string& what) {
  return "record at " + std::to_string(offset) + ": " + what;
}

}  // namespace

HydWalk walk_hyd(std::span<const uint8_t> stream) {
  HydWalk w;
  const size_t size = stream.size();
  size_t pos = 0;
  int32_t prev_len = 0;
  while (pos < size) {
    const auto offset = static_cast<int32_t>(pos);
    if (size - pos < 4) {
      w.error = at(offset, "a record head cut off by the end of the stream");
      return w;
    }
    const uint8_t* p = stream.data() + pos;
    HydEntry e;
    e.offset = offset;
    const int16_t first = get_i16(p);
    e.len_prev = get_i16(p + 2);
    if (first == kMainHeaderIndic) {
      e.header = true;
      e.length = static_cast<int32_t>(kMainHeaderSize);
    } else if (first < 0) {
      w.error = at(offset, "first word " + std::to_string(first) + " is neither -74 nor a particle length");
      return w;
    } else {
      e.length = first & kLenMask;
      e.nbits = first >> kLenBitsShift;
      if (e.length < static_cast<int32_t>(kPixHeadSize) || e.length % 2 != 0) {
        w.error = at(offset, "particle length " + std::to_string(e.length) + " is not a record length");
        return w;
      }
      if (e.nbits < 1 || e.nbits > kMaxNbits) {
        w.error = at(offset, "nbits " + std::to_string(e.nbits) + " outside 1 to 10");
        return w;
      }
    }
    if (static_cast<size_t>(e.length) > size - pos) {
      w.error = at(offset, "length " + std::to_string(e.length) + " runs past the end of the stream");
      return w;
    }
    if (e.len_prev != prev_len) {
      w.error = at(offset, "len_prev " + std::to_string(e.len_prev) + ", preceding record is " +
                               std::to_string(prev_len) + " bytes");
      return w;
    }
    if (e.header) {
      e.line_fr = get_f64(p + mh::kLineFr);
    } else {
      e.t1 = get_f64(p + pixhead::kT1);
    }
    w.records.push_back(e);
    prev_len = e.length;
    pos += static_cast<size_t>(e.length);
  }

  // Backward by len_prev from the last record: it must meet every record the forward walk met.
  size_t n = w.records.size();
  int64_t back = n == 0 ? 0 : w.records.back().offset;
  for (size_t k = n; k-- > 0;) {
    const HydEntry& e = w.records[k];
    if (back != e.offset) {
      w.error = "backward walk reached " + std::to_string(back) + " instead of record at " +
                std::to_string(e.offset);
      return w;
    }
    back -= get_i16(stream.data() + e.offset + 2);
  }
  if (n > 0 && back != 0) w.error = "backward walk ends at " + std::to_string(back) + ", not 0";
  return w;
}

std::string check_pos_pix(const HydWalk& walk, std::span<const int32_t> pos_pix, double line_fr) {
  if (pos_pix.size() != static_cast<size_t>(kMinutes)) return "pos_pix does not have 1442 entries";
  // The entries do not decrease (checked first), so one sweep over the records serves them all.
  const std::vector<HydEntry>& recs = walk.records;
  size_t k = 0;
  double fr = line_fr;
  int32_t last = -1;
  for (int i = 0; i < kMinutes; ++i) {
    const int32_t v = pos_pix[static_cast<size_t>(i)];
    if (v == kNoRecord) continue;
    const std::string where = "pos_pix[" + std::to_string(i) + "]=" + std::to_string(v);
    if (v < last) return where + " lies before an earlier minute's entry " + std::to_string(last);
    last = v;
    if (is_first_minute_start(i, v)) continue;
    while (k < recs.size() && recs[k].offset < v) {
      if (recs[k].header) fr = recs[k].line_fr;
      ++k;
    }
    if (k == recs.size() || recs[k].offset != v) return where + " is not the offset of a record";
    const HydEntry* rec = &recs[k];
    if (rec->header) return where + " points at a main header record";
    if (!(fr > 0.0)) return where + ": no line frequency to form the minute";
    const double minute = line_minute(rec->t1, fr);
    // A NaN t1 gives no minute at all: that is as wrong as an earlier one.
    if (!(minute >= i)) return where + " points at a particle of minute " + minute_text(minute);
  }
  return "";
}

std::vector<int32_t> read_pos_pix(std::span<const uint8_t> hd_file) {
  return read_minute_table(hd_file);  // pos_pix opens the header file
}

}  // namespace quorda
