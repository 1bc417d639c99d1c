// Reading particle records: head decoder and outline unpacker.
#include "format/particle_record.h"

#include "base/bytes.h"

namespace quorda {

namespace {

template <typename WordAt>
int unpack(int n_words, WordAt word_at, int nbits, int count, int16_t* out) {
  const uint32_t mask = (1u << nbits) - 1;
  uint32_t acc = 0;
  int have = 0;
  int w = 0;
  int n = 0;
  while (n < count) {
    if (have < nbits) {
      if (w >= n_words) break;
      acc |= static_cast<uint32_t>(word_at(w++)) << have;
      have += 16;
      continue;
    }
    out[n++] = static_cast<int16_t>(acc & mask);
    acc >>= nbits;
    have -= nbits;
  }
  return n;
}

}  // namespace

ParticleHead decode_particle_head(const uint8_t* p) {
  ParticleHead h;
  const uint16_t len_bits = get_u16(p + pixhead::kLenBits);
  h.length = len_bits & kLenMask;
  h.nbits = len_bits >> kLenBitsShift;
  h.len_prev = get_i16(p + pixhead::kLenPrev);
  h.t1 = get_f64(p + pixhead::kT1);
  h.eq_diam = get_i16(p + pixhead::kEqDiam);
  h.line_no = get_i16(p + pixhead::kLineNo);
  h.line_no_diff = get_i16(p + pixhead::kLineNoDiff);
  h.diff_lins = get_i16(p + pixhead::kDiffLins);
  h.x_min_a = get_i16(p + pixhead::kXMinA);
  h.x_min_b = get_i16(p + pixhead::kXMinB);
  h.vel = get_i16(p + pixhead::kVel);
  h.scale_a = get_i16(p + pixhead::kScaleA);
  h.scale_b = get_i16(p + pixhead::kScaleB);
  return h;
}

int outline_word_count(int values, int nbits) {
  int carry_bits = 0;
  int taken = 0;
  int words = 0;
  while (taken < values) {
    const int k = (32 - carry_bits) / nbits;
    taken += k;
    ++words;
    carry_bits += k * nbits - 16;
  }
  return words + 1;
}

int camera_b_lines(const ParticleHead& h) {
  if (h.nbits < 1 || h.nbits > 15 || h.line_no < 2 || h.line_no > MAXLIN) return -1;
  const int words = (h.length - static_cast<int>(kPixHeadSize)) / 2;
  for (int lb = 2; lb <= MAXLIN; ++lb) {
    if (static_cast<int8_t>(lb - h.line_no) != h.line_no_diff) continue;
    if (outline_word_count(2 * h.line_no + 2 * lb, h.nbits) == words) return lb;
  }
  return -1;
}

int unpack_outline(std::span<const uint8_t> word_bytes, int nbits, int count, int16_t* out) {
  return unpack(
      static_cast<int>(word_bytes.size() / 2),
      [&](int i) { return get_u16(word_bytes.data() + sizeof(uint16_t) * i); }, nbits, count, out);
}

int unpack_outline(std::span<const uint16_t> words, int nbits, int count, int16_t* out) {
  return unpack(
      static_cast<int>(words.size()), [&](int i) { return words[static_cast<size_t>(i)]; }, nbits, count,
      out);
}

bool decode_outline(const uint8_t* record, const ParticleHead& h, Outline& o) {
  const int lb = camera_b_lines(h);
  if (lb < 0) return false;
  const int la = h.line_no;
  int16_t values[kMaxOutlineValues];
  const int count = 2 * la + 2 * lb;
  const std::span<const uint8_t> words(record + kPixHeadSize, static_cast<size_t>(h.length) - kPixHeadSize);
  if (unpack_outline(words, h.nbits, count, values) != count) return false;
  o.lines_a = la;
  o.lines_b = lb;
  for (int i = 0; i < la; ++i) {
    o.start_a[i] = static_cast<int16_t>(h.x_min_a + values[i]);
    o.end_a[i] = static_cast<int16_t>(h.x_min_a + values[la + i]);
  }
  for (int i = 0; i < lb; ++i) {
    o.start_b[i] = static_cast<int16_t>(h.x_min_b + values[2 * la + i]);
    o.end_b[i] = static_cast<int16_t>(h.x_min_b + values[2 * la + lb + i]);
  }
  return true;
}

}  // namespace quorda
