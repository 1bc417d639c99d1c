// Reading particle records of the hydrometeor stream: the 30-byte head and the packed outline.
//
// A particle record is its head followed by 16-bit little-endian outline words. The outline holds
// 2 * la + 2 * lb values of nbits bits each (la, lb: lines of the particle in camera A and B), value
// 0 in the lowest bits of word 0: the run starts of camera A, its run ends, then the same for
// camera B, each relative to the camera's x_min. These are unchecked decoders: the caller has
// checked that the record's bytes lie inside its buffer (the stream walker does that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/constants.h"

namespace quorda {

// The first word of a particle record (len_bits): the record length in bits 0 to 10, the bits per
// outline value above them. Outline values have at most 10 bits.
inline constexpr int kLenMask = 0x7FF;
inline constexpr int kLenBitsShift = 11;
inline constexpr int kMaxValueBits = 10;

// The particle record's head: its size, and the offsets of its fields.
inline constexpr size_t kPixHeadSize = 30;
namespace pixhead {
inline constexpr size_t kLenBits = 0;
inline constexpr size_t kLenPrev = 2;
inline constexpr size_t kT1 = 4;
inline constexpr size_t kEqDiam = 12;
inline constexpr size_t kLineNo = 14;
inline constexpr size_t kLineNoDiff = 16;
inline constexpr size_t kDiffLins = 18;
inline constexpr size_t kXMinA = 20;
inline constexpr size_t kXMinB = 22;
inline constexpr size_t kVel = 24;
inline constexpr size_t kScaleA = 26;
inline constexpr size_t kScaleB = 28;
}  // namespace pixhead

struct ParticleHead {
  int length = 0;  // record length in bytes, head included
  int nbits = 0;   // bits per outline value
  int16_t len_prev = 0;
  double t1 = 0;        // line number of the particle's first line in camera A
  int16_t eq_diam = 0;  // 0.01 mm
  int16_t line_no = 0;  // lines in camera A
  int16_t line_no_diff = 0;
  int16_t diff_lins = 0;
  int16_t x_min_a = 0;
  int16_t x_min_b = 0;
  int16_t vel = 0;      // 0.0001 mm per line
  int16_t scale_a = 0;  // 0.0001 mm per pixel
  int16_t scale_b = 0;  // 0.0001 mm per pixel
};

// REQUIRES: p holds kPixHeadSize bytes.
ParticleHead decode_particle_head(const uint8_t* p);

// The number of outline words the packer stores for `values` values of `nbits` bits: one word per
// pass (each pass takes as many whole values as fit beside the carry) plus the final carry word.
// REQUIRES: 1 <= nbits <= 15.
int outline_word_count(int values, int nbits);

// The number of lines of the particle in camera B. The head keeps only the low 8 bits of the
// difference of the line counts, so the count is the one (2 to MAXLIN, matching line_no_diff in
// 8 bits) whose outline takes exactly the record's words. Returns -1 when none does.
int camera_b_lines(const ParticleHead& h);

// Reads `count` values of nbits bits from the outline into `out`, lowest bits of word 0 first.
// Returns the number of values read: fewer than `count` when the words run out.
// REQUIRES: 1 <= nbits <= 15; out has room for count values.
int unpack_outline(std::span<const uint8_t> word_bytes, int nbits, int count, int16_t* out);
int unpack_outline(std::span<const uint16_t> words, int nbits, int count, int16_t* out);

// The outline of one particle record in absolute pixel positions: per line of each camera, the
// start and end of its run.
struct Outline {
  int lines_a = 0;
  int lines_b = 0;
  int16_t start_a[MAXLIN];
  int16_t end_a[MAXLIN];
  int16_t start_b[MAXLIN];
  int16_t end_b[MAXLIN];
};

// Fills `o` from the record at `record` (head and words, h.length bytes). Returns false when the
// head's line counts do not fit its words.
// REQUIRES: record holds h.length bytes and h was decoded from it.
bool decode_outline(const uint8_t* record, const ParticleHead& h, Outline& o);

}  // namespace quorda
