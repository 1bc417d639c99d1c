// Test support: hydrometeor streams built record by record, with the back links right, and the
// header file and index file that go with them.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/particle_record.h"

namespace quorda::testing {

class StreamBuilder {
 public:
  // A main header record of the set of raw file V10082_1.ab; it goes to the stream and to the header
  // file's records.
  StreamBuilder& header(double line_fr, uint32_t main_time) {
    MainHeader h;
    std::strcpy(h.pix_file, "V10082_1.hyd");
    h.len_prev = last_len_;
    h.line_fr = line_fr;
    h.main_time = main_time;
    uint8_t b[kMainHeaderSize];
    encode_main_header(h, b);
    const std::string rec(reinterpret_cast<char*>(b), sizeof b);
    stream_ += rec;
    hd_records_ += rec;
    last_len_ = static_cast<int16_t>(kMainHeaderSize);
    return *this;
  }
  // A particle record of `len` bytes (even, at least the head) whose outline words are zero.
  StreamBuilder& particle(double t1, int len = 30) {
    std::string rec(static_cast<size_t>(len), '\0');
    auto* p = reinterpret_cast<uint8_t*>(rec.data());
    put_u16(p + pixhead::kLenBits, static_cast<uint16_t>(len | (1 << 11)));
    put_i16(p + pixhead::kLenPrev, last_len_);
    put_f64(p + pixhead::kT1, t1);
    offsets_.push_back(static_cast<int32_t>(stream_.size()));
    stream_ += rec;
    last_len_ = static_cast<int16_t>(len);
    return *this;
  }
  const std::string& stream() const { return stream_; }
  const std::string& hd_records() const { return hd_records_; }
  int16_t last_len() const { return last_len_; }
  // Offsets of the particle records, in stream order.
  const std::vector<int32_t>& offsets() const { return offsets_; }

 private:
  std::string stream_;
  std::string hd_records_;
  std::vector<int32_t> offsets_;
  int16_t last_len_ = 0;
};

inline std::string le32_bytes(int32_t v) {
  uint8_t b[4];
  put_i32(b, v);
  return std::string(reinterpret_cast<char*>(b), 4);
}

// A minute table. REQUIRES: t.size() == kMinutes.
inline std::string table_bytes(const std::vector<int32_t>& t) {
  std::string s(kMinuteTableBytes, '\0');
  encode_minute_table(std::span<const int32_t, kMinutes>(t.data(), kMinutes),
                      reinterpret_cast<uint8_t*>(s.data()));
  return s;
}

// A header file: pos_pix, the last record length and the records.
inline std::string hd_bytes(const std::vector<int32_t>& pos_pix, int16_t last_record_len,
                            const std::string& records) {
  uint8_t ol[2];
  put_i16(ol, last_record_len);
  return table_bytes(pos_pix) + std::string(reinterpret_cast<char*>(ol), 2) + records;
}

// An index file of the saved size.
inline std::string abh_bytes(const std::vector<int32_t>& posa, const std::vector<int32_t>& posb,
                             uint64_t last_saved_line) {
  uint8_t lp[8];
  put_u64(lp, last_saved_line);
  return table_bytes(posa) + table_bytes(posb) + std::string(reinterpret_cast<char*>(lp), 8);
}

// pos_pix of a new header file: entry 0 = 0, all others -1.
inline std::vector<int32_t> new_pos_pix() {
  std::vector<int32_t> t(kMinutes, -1);
  t[0] = 0;
  return t;
}

}  // namespace quorda::testing
