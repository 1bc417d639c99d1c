// A checking walker over the hydrometeor stream (".hyd") and its per-minute index.
//
// The stream is a sequence of records, each beginning with two 16-bit words: the first is -74 for
// a 74-byte main header record, else the particle record's length (bits 0 to 10) and bits per
// outline value (bits 11 to 15); the second is the length of the preceding record (0 for the first
// record). The walker goes forward by the lengths and back by len_prev, and reports the first
// place where the framing does not hold. It reads untrusted bytes and never looks past them.
//
// Used by the tests on every file they produce and by tools that inspect an output set.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorda {

struct HydEntry {
  int32_t offset = 0;
  int32_t length = 0;
  int16_t len_prev = 0;
  bool header = false;  // a main header record
  int nbits = 0;        // particle records: bits per outline value
  double t1 = 0;        // particle records: line number of the particle's first line in camera A
  double line_fr = 0;   // main header records: the line frequency they set
};

struct HydWalk {
  std::vector<HydEntry> records;  // in stream order, as far as the framing held
  std::string error;              // empty when the whole stream is consistent
  bool ok() const { return error.empty(); }
};

// Walks the stream forward, checking every record's framing (length words, len_prev links, the
// record lying wholly inside the stream), then backward from the last record by len_prev,
// checking that it meets the same records.
HydWalk walk_hyd(std::span<const uint8_t> stream);

// Checks a per-minute index against a walked stream: every entry other than -1 must be the offset
// of a particle record whose minute of the day (t1 / (line_fr * 60), truncated) is the entry's
// minute or later, and the entries must not decrease. Entry 0 may also be 0, the start of the
// stream, which a new header file holds. The line frequency is that of the last main header record
// before the particle, or `line_fr` when none precedes it. Returns "" when consistent.
std::string check_pos_pix(const HydWalk& walk, std::span<const int32_t> pos_pix, double line_fr);

// The pos_pix table at the start of a header file's bytes (empty when the file is too short).
std::vector<int32_t> read_pos_pix(std::span<const uint8_t> hd_file);

}  // namespace quorda
