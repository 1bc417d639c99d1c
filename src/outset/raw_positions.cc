// The raw-file positions of the index file against the raw file, and the restart point.
#include "outset/raw_positions.h"

#include <vector>

#include "base/constants.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/raw_record.h"

namespace quorda {

namespace {

std::string num(int64_t v) {
  return std::to_string(v);
}

struct Table {
  const char* name;
  int16_t kind;
  char camera;
  std::vector<int32_t> entries;
};

std::string entry_text(const Table& t, int i) {
  return std::string(".abh: ") + t.name + "[" + num(i) + "]=" + num(t.entries[static_cast<size_t>(i)]);
}

// The minute of a block's first line, or kNoMinute.
int block_minute(const RawBlockHead& h, double line_fr) {
  return h.has_first_line ? minute_of_line(h.first_line, line_fr) : kNoMinute;
}

// Entry i's block: a line block of the table's camera whose first line lies in minute `last`, the
// last minute holding the entry.
std::string check_entry_block(const Table& t, int i, int last, double line_fr, RawHeads& heads) {
  const int32_t pos = t.entries[static_cast<size_t>(i)];
  const RawBlockHead h = heads.head_at(pos);
  if (!h.whole || h.kind != t.kind || !h.has_first_line)
    return entry_text(t, i) + " is not the head of a camera " + t.camera + " line block of the raw file";
  if (line_fr > 0.0 && block_minute(h, line_fr) != last)
    return entry_text(t, i) + " is a block of minute " + num(block_minute(h, line_fr)) + ", not of minute " +
           num(last);
  return "";
}

// The record chain from `from` must meet `to`, with no block of the camera of minute `limit` or
// later strictly between.
std::string check_chain(const Table& t, int i_to, int32_t from, int32_t to, int limit, double line_fr,
                        RawHeads& heads) {
  int64_t pos = from;
  while (pos < to) {
    const RawBlockHead h = heads.head_at(pos);
    if (!h.whole)
      return entry_text(t, i_to) + " is not met by the raw file's records from " + num(from) +
             ": they break at " + num(pos);
    if (pos != from && h.kind == t.kind && line_fr > 0.0 && block_minute(h, line_fr) >= limit)
      return entry_text(t, i_to) + " lies after the block at " + num(pos) + " of minute " +
             num(block_minute(h, line_fr));
    pos += static_cast<int64_t>(kRecordHeadSize) + h.payload_len;
  }
  if (pos != to)
    return entry_text(t, i_to) + " is not met by the raw file's records from " + num(from) +
           ": they pass it at " + num(pos);
  return "";
}

std::string check_table(const Table& t, int restart, double line_fr, int64_t raw_size, RawHeads* heads) {
  const std::vector<int32_t>& e = t.entries;
  for (int i = 0; i < kMinutes; ++i) {
    const int32_t v = e[static_cast<size_t>(i)];
    if (v < 0 || v > raw_size)
      return entry_text(t, i) + " lies outside the raw file of " + num(raw_size) + " bytes";
  }
  if (heads == nullptr) return "";
  const auto entry = [&e](int i) { return e[static_cast<size_t>(i)]; };
  // Each run of equal set entries: its block.
  for (int i = 0; i < kMinutes;) {
    int last = i;
    while (last + 1 < kMinutes && entry(last + 1) == entry(i)) ++last;
    if (entry(i) != 0) {
      std::string f = check_entry_block(t, i, last, line_fr, *heads);
      if (!f.empty()) return f;
    }
    i = last + 1;
  }
  // Around the restart entry: from the entry before its run to it, and from it to the next entry.
  const int32_t at = entry(restart);
  if (at == 0) return "";
  int first = restart;
  while (first > 0 && entry(first - 1) == at) --first;
  int last = restart;
  while (last + 1 < kMinutes && entry(last + 1) == at) ++last;
  if (first > 0 && entry(first - 1) != 0) {
    std::string f = check_chain(t, first, entry(first - 1), at, first, line_fr, *heads);
    if (!f.empty()) return f;
  }
  if (last + 1 < kMinutes && entry(last + 1) > at)
    return check_chain(t, last + 1, at, entry(last + 1), last + 1, line_fr, *heads);
  return "";
}

// One table of trim_torn_tables.
bool trim_table(uint8_t* table, int16_t kind, double line_fr, RawHeads* heads) {
  int last_set = -1;
  bool trimmed = false;
  for (int i = 0; i < kMinutes; ++i) {
    const int32_t v = get_minute_entry(table, i);
    if (v == 0 && last_set >= 0 && get_minute_entry(table, last_set) != 0) {
      for (int k = i; k < kMinutes; ++k) {
        trimmed = trimmed || get_minute_entry(table, k) != 0;
        put_minute_entry(table, k, 0);
      }
      break;
    }
    last_set = i;
  }
  int last = kMinutes - 1;
  while (last >= 0 && get_minute_entry(table, last) == 0) --last;
  if (heads == nullptr || last < 0) return trimmed;
  const int32_t at = get_minute_entry(table, last);
  const RawBlockHead h = heads->head_at(at);
  if (h.whole && h.kind == kind && block_minute(h, line_fr) == last) return trimmed;
  for (int k = last; k >= 0 && get_minute_entry(table, k) == at; --k) put_minute_entry(table, k, 0);
  return true;
}

}  // namespace

bool trim_torn_tables(std::span<uint8_t> abh, double line_fr, RawHeads* heads) {
  const bool a = trim_table(abh.data() + kAbhMinutePosAOffset, kKindLinesA, line_fr, heads);
  const bool b = trim_table(abh.data() + kAbhMinutePosBOffset, kKindLinesB, line_fr, heads);
  return a || b;
}

int restart_entry(std::span<const int32_t> table, int minute) {
  int i = minute;
  while (i > 1 && table[static_cast<size_t>(i)] == table[static_cast<size_t>(i - 1)]) --i;
  i = i - 1;
  return i > 0 ? i : 0;
}

RestartPoint restart_point(std::span<const uint8_t> abh, double line_fr) {
  RestartPoint r;
  if (line_fr > 0.0) {
    const int m = minute_of_line(static_cast<double>(read_last_saved_line(abh)), line_fr);
    r.minute = m == kNoMinute ? kMinutes - 1 : m;
  }
  const std::vector<int32_t> a = read_minute_table(abh.subspan(kAbhMinutePosAOffset));
  const std::vector<int32_t> b = read_minute_table(abh.subspan(kAbhMinutePosBOffset));
  r.entry_a = restart_entry(a, r.minute);
  r.entry_b = restart_entry(b, r.minute);
  r.pos_a = a[static_cast<size_t>(r.entry_a)];
  r.pos_b = b[static_cast<size_t>(r.entry_b)];
  return r;
}

std::string check_raw_positions(std::span<const uint8_t> abh, double line_fr, int64_t raw_size,
                                RawHeads* heads) {
  const RestartPoint r = restart_point(abh, line_fr);
  const Table a{"posa_bf", kKindLinesA, 'A', read_minute_table(abh.subspan(kAbhMinutePosAOffset))};
  std::string f = check_table(a, r.entry_a, line_fr, raw_size, heads);
  if (!f.empty()) return f;
  const Table b{"posb_bf", kKindLinesB, 'B', read_minute_table(abh.subspan(kAbhMinutePosBOffset))};
  return check_table(b, r.entry_b, line_fr, raw_size, heads);
}

}  // namespace quorda
