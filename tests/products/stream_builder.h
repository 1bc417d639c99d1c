// Test support: hydrometeor streams built by hand, so that the rain products can be checked on
// particles whose every value is known: main header records and particle records with rectangular
// outlines (every line of a camera one run of the same pixels).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/particle_record.h"
#include "support/packing_model.h"

namespace quorda::testing {

struct HandParticle {
  double t1 = 0;          // line number
  double d_mm = 1.0;      // stored in 0.01 mm
  double vel = 0.1;       // mm per line, stored in 0.0001 mm
  double scale_a = 0.15;  // mm per pixel, stored in 0.0001 mm
  double scale_b = 0.15;
  int lines_a = 10, lines_b = 10;
  int start_a = 300, end_a = 307;  // the run of every line of camera A
  int start_b = 300, end_b = 307;
};

class ProductStreamBuilder {
 public:
  // A main header record with the given time of day (seconds of 2026-05-30), line frequency and
  // geometry.
  void header(uint32_t second_of_day, double line_fr, int centre_pix = 316, float xs1 = 0.153f,
              float xs2 = 0.168f) {
    MainHeader h;
    h.len_prev = last_record_len_;
    std::strcpy(h.pix_file, "V26150_1.hyd");
    h.main_time = kMidnight + second_of_day;
    h.line_fr = line_fr;
    h.hbl = 6.2f;
    h.hbr = 6.3f;
    h.hfr = 6.4f;
    h.centre_pix = static_cast<int16_t>(centre_pix);
    h.xscale0_1 = xs1;
    h.xscale0_2 = xs2;
    h.l0_1 = 250;
    h.l0_2 = 250;
    const size_t at = bytes.size();
    bytes.resize(at + kMainHeaderSize);
    encode_main_header(h, bytes.data() + at);
    last_record_len_ = static_cast<int16_t>(kMainHeaderSize);
  }

  void particle(const HandParticle& p) {
    std::vector<int> values;
    for (int i = 0; i < p.lines_a; ++i) values.push_back(0);
    for (int i = 0; i < p.lines_a; ++i) values.push_back(p.end_a - p.start_a);
    for (int i = 0; i < p.lines_b; ++i) values.push_back(0);
    for (int i = 0; i < p.lines_b; ++i) values.push_back(p.end_b - p.start_b);
    const int wmax = std::max(p.end_a - p.start_a, p.end_b - p.start_b);
    int nbits = 1;
    while ((1 << nbits) <= wmax) ++nbits;
    const std::vector<uint16_t> words = model_packed_words(values, nbits);
    const int length = static_cast<int>(kPixHeadSize + 2 * words.size());
    const size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(length));
    uint8_t* r = bytes.data() + at;
    put_u16(r, static_cast<uint16_t>((nbits << 11) | length));
    put_i16(r + 2, last_record_len_);
    put_f64(r + 4, p.t1);
    put_i16(r + 12, static_cast<int16_t>(p.d_mm * 100 + 0.5));
    put_i16(r + 14, static_cast<int16_t>(p.lines_a));
    put_i16(r + 16, static_cast<int16_t>(static_cast<int8_t>(p.lines_b - p.lines_a)));
    put_i16(r + 18, 20);
    put_i16(r + 20, static_cast<int16_t>(p.start_a));
    put_i16(r + 22, static_cast<int16_t>(p.start_b));
    put_i16(r + 24, static_cast<int16_t>(p.vel * 10000 + 0.5));
    put_i16(r + 26, static_cast<int16_t>(p.scale_a * 10000 + 0.5));
    put_i16(r + 28, static_cast<int16_t>(p.scale_b * 10000 + 0.5));
    for (size_t i = 0; i < words.size(); ++i) put_u16(r + kPixHeadSize + 2 * i, words[i]);
    last_record_len_ = static_cast<int16_t>(length);
  }

  // Calendar seconds of 2026-05-30 00:00:00 UTC.
  static constexpr uint32_t kMidnight = 1780099200;
  std::vector<uint8_t> bytes;

 private:
  int16_t last_record_len_ = 0;
};

}  // namespace quorda::testing
