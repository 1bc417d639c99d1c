// Test support for the simulator: in-memory sinks and a walker over raw records.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/raw_record.h"
#include "sim/rain_day.h"
#include "sim/truth_csv.h"

namespace quorda::sim::testing {

class MemorySink : public ByteSink {
 public:
  void write(const uint8_t* data, size_t n) override { bytes.insert(bytes.end(), data, data + n); }
  std::vector<uint8_t> bytes;
};

class TruthRows : public TruthSink {
 public:
  void particle(const SimDrop& d) override { rows.push_back(truth_row(d)); }
  std::vector<TruthRow> rows;
};

struct BlockLines {
  int cam;
  std::vector<LineRecord> lines;
};

class BlockLog : public BlockObserver {
 public:
  void block(int cam, std::span<const LineRecord> lines) override {
    blocks.push_back({cam, std::vector<LineRecord>(lines.begin(), lines.end())});
  }
  std::vector<BlockLines> blocks;
};

struct RawRec {
  int16_t kind;
  size_t offset;  // of the payload
  int16_t length;
};

// The records of a raw file image; stops at a record that does not fit.
inline std::vector<RawRec> raw_records(const std::vector<uint8_t>& f) {
  std::vector<RawRec> recs;
  size_t pos = 0;
  while (pos + kRecordHeadSize <= f.size()) {
    const int16_t kind = get_i16(&f[pos]);
    const int16_t len = get_i16(&f[pos + 2]);
    if (len < 0 || pos + kRecordHeadSize + static_cast<size_t>(len) > f.size()) break;
    recs.push_back({kind, pos + kRecordHeadSize, len});
    pos += kRecordHeadSize + static_cast<size_t>(len);
  }
  return recs;
}

// A short day of moderate rain.
inline DayConfig short_day(uint64_t seed) {
  DayConfig c;
  c.seed = seed;
  c.header_second = 3590;
  c.rain_start = 3600;
  c.rain_end = 3630;
  c.rain.rate_mm_h = 8;
  c.clutter_rate = 2;
  c.clutter_cameras = 3;
  c.header_every = 10;
  c.status_every = 5;
  return c;
}

}  // namespace quorda::sim::testing
