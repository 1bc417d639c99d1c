// The reports hydinfo prints on an output set given as whole-file byte buffers: the summary, the
// consistency check, the CSV listing of the particle records and the listing of one minute found
// through the header file's pos_pix.
//
// Every report reads untrusted bytes and never looks past them; a damaged set gives fault lines
// and a status, never a read outside the buffers. Text goes to the streams the caller gives.
// Single-threaded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "format/particle_record.h"
#include "outset/check_output_set.h"

namespace quorda {

// Exit statuses of the reports.
inline constexpr int kReportOk = 0;
inline constexpr int kReportInconsistent = 1;

// The main headers of a set and the header in force at a line number: the last one whose time of
// day (in its own line units) is not later than it, else the first.
struct HeaderInForce {
  struct Entry {
    MainHeader h;
    double line = 0;
    int32_t offset = -1;  // in the stream; -1 when read from the header file
  };
  std::vector<Entry> list;

  // REQUIRES: rec holds kMainHeaderSize bytes.
  void add(const uint8_t* rec, int32_t offset);
  // 0 when the list is empty.
  double line_fr(double t1) const;
};

// The CSV lines of particle records, formatted into one buffer that goes out to `out` in large
// writes. The buffer always has room for the longest line any record can give, whatever its
// numbers hold.
class CsvWriter {
 public:
  explicit CsvWriter(FILE* out) : out_(out), buf_(kBufSize) {}
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;
  ~CsvWriter() { flush(); }

  void title(bool outline);
  // One line for the particle record at `rec`. Returns false when its outline cannot be read.
  // REQUIRES: rec holds the record's length in bytes, at least kPixHeadSize, as the walker checked.
  bool record(const uint8_t* rec, const HeaderInForce& headers, bool outline);
  void flush();

  // Characters of the longest line: six numbers with six decimals at most, each up to 309 digits
  // before the point (the largest double) and a sign; seven 16-bit counts of up to six characters
  // ("-32768"); two outlines of MAXLIN runs of two 16-bit numbers; the separators and the line end.
  static constexpr size_t kLongestNumber = 1 + 309 + 1 + 6;
  static constexpr size_t kLongestCount = 6;
  static constexpr size_t kLongestLine =
      6 * (kLongestNumber + 1) + 7 * (kLongestCount + 1) + 2 * (size_t{MAXLIN} * 14 + 1) + 1;
  static constexpr size_t kBufSize = 1 << 16;
  static_assert(kLongestLine < kBufSize);

 private:
  void sep() { buf_[used_++] = ','; }
  void text(const char* t);
  void fixed(double v, int precision);
  void integer(int v);
  void runs(const int16_t* start, const int16_t* end, int n);

  FILE* out_;
  std::vector<char> buf_;
  size_t used_ = 0;
  Outline outline_;
};

// "consistent: N records", or the fault lines, on `out`.
int report_check(const HydWalk& walk, const OutputSetBytes& set, FILE* out);

// The CSV lines of every particle record of the walked stream; stream faults go to `err`.
int report_csv(std::span<const uint8_t> hyd, const HydWalk& walk, bool outline, FILE* out, FILE* err);

// The CSV lines of the particle records of minute M: from pos_pix[M] up to the next entry that
// lies further on, walking the framing from there on (the stream before the entry is not read).
// REQUIRES: 0 <= minute < kMinutes.
int report_minute(std::span<const uint8_t> hyd, std::span<const uint8_t> hd, int minute, bool outline,
                  FILE* out, FILE* err);

// The summary: records, main headers, particles, quartiles, minutes and the consistency check.
int report_summary(std::span<const uint8_t> hyd, const HydWalk& walk, const OutputSetBytes& set, FILE* out);

}  // namespace quorda
