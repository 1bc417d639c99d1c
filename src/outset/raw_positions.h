// The raw-file positions of the index file (".abh") against the raw file they point into, and the
// restart point a resumed run takes from them.
//
// Each camera's minute table holds, for minute m, the position of the first line block of that
// camera whose first line lies in minute m or later; a run fills the entries from minute 0 up, so
// the entries up to the last set one never decrease, and the last minute holding a position is the
// minute of that block's first line. A resumed run restarts each camera from the entry before the
// minutes that share the block of the last saved line's minute.
//
// The check reads the raw file only through RawHeads, which the caller implements over the file it
// has open, so that what is read here stays a function of the bytes handed in. Single-threaded.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorda {

// What lies at a position of the raw file.
struct RawBlockHead {
  bool whole = false;  // a record head whose payload ends within the file
  int16_t kind = 0;
  int32_t payload_len = 0;
  bool has_first_line = false;  // the payload holds a line count and a first frame head
  double first_line = 0;        // the line number of the block's first line (its first frame's)
};

class RawHeads {
 public:
  virtual ~RawHeads() = default;
  virtual RawBlockHead head_at(int64_t pos) = 0;
};

// Where a resumed run starts each camera.
struct RestartPoint {
  int minute = 0;   // minute of the last saved line
  int entry_a = 0;  // the minute-table entries it starts from
  int entry_b = 0;
  int32_t pos_a = 0;
  int32_t pos_b = 0;
};

// The entry a cursor restarts from: back from `minute` past every minute that shares its block,
// then one minute further (never below entry 0).
// REQUIRES: table has kMinutes entries; 0 <= minute < kMinutes.
int restart_entry(std::span<const int32_t> table, int minute);

// The restart point of an index file of at least kAbhCreatedSize bytes. Without a line frequency
// (line_fr not positive) both cameras start at entry 0; a minute beyond the table starts the walk
// at its last entry.
RestartPoint restart_point(std::span<const uint8_t> abh, double line_fr);

// Brings each minute table of an index file back to what a run had written at some moment: a torn
// write of the tables leaves some entries of the newer save at 0 while later ones hold theirs. From
// the first entry at 0 after a set one, every entry is cleared; then, when `heads` is given, the
// last set entries too if their block's first line does not lie in the last minute holding them (a
// run of equal entries the tear cut short). The resumed run fills what is cleared again as it reads
// the raw file. Returns whether anything was cleared.
// REQUIRES: abh holds at least kAbhCreatedSize bytes.
bool trim_torn_tables(std::span<uint8_t> abh, double line_fr, RawHeads* heads);

// The faults of the index file's minute tables against the raw file of `raw_size` bytes: entries
// outside it; and, when `heads` is given, entries that are not the head of a line block of their
// camera whose first line lies in the last minute holding the entry, and for each camera the
// record chain around its restart entry (from the entry before it to the one after) that does not
// lead from one entry to the next with no block of a later minute in between. "" when they hold.
std::string check_raw_positions(std::span<const uint8_t> abh, double line_fr, int64_t raw_size,
                                RawHeads* heads);

}  // namespace quorda
