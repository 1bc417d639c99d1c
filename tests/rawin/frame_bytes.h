// Test support: line-block payloads laid out field by field, for frames the encoder would never
// make (damaged, oddly shaped or with chosen lengths).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace quorda::testing {

struct Field {
  int w;
  uint32_t value;
  bool flag;
};

struct FrameSpec {
  int base = 0;
  int w_pos = 1;
  int w_len = 1;
  double y = 0;
  std::vector<Field> fields;
  // Frame length written in the frame word; -1: the length the decoder's offset reaches after
  // the last field. The stream holds the fields, padded with zeros up to the frame length.
  int length = -1;
  // Stream words to use instead of the fields (when not empty).
  std::vector<uint16_t> words;
};

inline FrameSpec frame(int base, int w_pos, int w_len, double y, int length = -1) {
  FrameSpec f;
  f.base = base;
  f.w_pos = w_pos;
  f.w_len = w_len;
  f.y = y;
  f.length = length;
  return f;
}

inline uint32_t frame_word(int length, int base, int w_len, int w_pos) {
  return static_cast<uint32_t>(length) | static_cast<uint32_t>(base) << 14 |
         static_cast<uint32_t>(w_len) << 24 | static_cast<uint32_t>(w_pos) << 28;
}

// Appends one frame to a payload.
inline void add_frame(std::vector<uint8_t>& payload, const FrameSpec& f) {
  std::vector<uint8_t> stream;
  int last_start = 0;
  if (!f.words.empty()) {
    for (uint16_t w : f.words) {
      stream.push_back(static_cast<uint8_t>(w));
      stream.push_back(static_cast<uint8_t>(w >> 8));
    }
  } else {
    uint64_t acc = 0;
    int n = 0;
    int bit = 0;
    for (const Field& fd : f.fields) {
      last_start = bit;
      acc |= static_cast<uint64_t>(fd.value | (fd.flag ? 1u << (fd.w - 1) : 0u)) << n;
      n += fd.w;
      bit += fd.w;
      while (n >= 16) {
        stream.push_back(static_cast<uint8_t>(acc));
        stream.push_back(static_cast<uint8_t>(acc >> 8));
        acc >>= 16;
        n -= 16;
      }
    }
    if (n > 0) {
      stream.push_back(static_cast<uint8_t>(acc));
      stream.push_back(static_cast<uint8_t>(acc >> 8));
    }
  }
  int length = f.length;
  if (length < 0) length = last_start == 0 && f.fields.size() <= 1 ? 14 : 12 + 2 * (last_start / 16 + 2);
  stream.resize(length >= 12 ? static_cast<size_t>(length - 12) : 0, 0);
  size_t at = payload.size();
  payload.resize(at + 12);
  put_u32(&payload[at], frame_word(length, f.base, f.w_len, f.w_pos));
  put_f64(&payload[at + 4], f.y);
  payload.insert(payload.end(), stream.begin(), stream.end());
}

inline std::vector<uint8_t> block(int16_t n_lin, const std::vector<FrameSpec>& frames) {
  std::vector<uint8_t> p(2);
  put_i16(p.data(), n_lin);
  for (const FrameSpec& f : frames) add_frame(p, f);
  return p;
}

// printf into a string, for expected messages that carry numbers.
template <typename... A>
std::string fmt(const char* f, A... a) {
  char buf[512];
  std::snprintf(buf, sizeof buf, f, a...);
  return buf;
}

}  // namespace quorda::testing
