// pack_particle: turns a matched pair into a particle record of the hydrometeor stream: the 30-byte head
// with the particle's measures in fixed point, and the outline of both pieces bit-packed into
// 16-bit words.
#include "measure/pack_particle.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "format/particle_record.h"
#include "measure/measure_drop.h"
#include "measure/measure_run.h"
#include "measure/res_file.h"

namespace quorda {

namespace {

constexpr const char* kTooManyLinesText = " in transf_1 ....error";
constexpr const char* kLinesAText = " drop_a->line_no= %d \n";
constexpr const char* kLinesBText = " drop_b->line_no= %d \n";
constexpr const char* kMaxLinesText = " MAXLIN         = %d \n";
constexpr const char* kWidthsText =
    "transf_1: outline widths %d and %d pixels cannot be packed, pair dropped \n";
constexpr const char* kTooLongText = "transf_1: max. len exceeded !!! \n";
constexpr const char* kSmallDiamText = "\neq_diam problem:\n";
constexpr const char* kSmallDiamValueText = "eq_diam= %f  ";
constexpr const char* kSmallDiamLinesAText = "line_no_A= %d  ";
constexpr const char* kSmallDiamLinesBText = "line_no_B= %d\n";
constexpr const char* kSmallDiamDelayText = "diff_lins= %d\n";

// An equivalent diameter below this (mm) is reported: only a damaged pair gets there.
constexpr double kSmallDiam = 0.01;

// Outline values are packed with at most this many bits: bits 0 to 9 of the piece widths.
constexpr int kWidthLimit = 1 << kMaxValueBits;

// Fixed-point scales of the head's measures. The products are formed in single precision, as the
// measures are held, and only then truncated: 0.153f (0.152999997...) × 10000 is 1530 in single
// precision, where the exact product of the float would truncate to 1529.
constexpr float kDiamScale = 100.0f;
constexpr float kFineScale = 10000.0f;

// A scaled measure as its stored field: truncated toward zero, low 16 bits kept. Values beyond the
// 32-bit range wrap the same way (the low 16 bits of the truncated value); not-a-number and
// infinities give 0.
int16_t fixed_low16(double x) {
  int64_t whole;
  if (x > -2147483648.0 && x < 2147483648.0) {
    whole = static_cast<int64_t>(x);
  } else if (std::isfinite(x)) {
    whole = static_cast<int64_t>(std::fmod(std::trunc(x), 65536.0));
  } else {
    whole = 0;
  }
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(whole)));
}

// Appends the outline values of one piece: all run starts, then all run ends, relative to x_min.
// Sets `widest` to the piece's widest line (widest_line) on the way.
int put_outline(const Piece& p, uint16_t* values, int at, int& widest) {
  // The piece's fields are read once: the 16-bit stores could alias them for the compiler.
  const int n = p.line_no;
  const int x_min = p.x_min;
  const Run* runs = p.runs;
  uint16_t* starts = values + at;
  uint16_t* ends = starts + (n > 0 ? n : 0);
  int w = 0;
  for (int i = 0; i < n; ++i) {
    const Run r = runs[i];
    starts[i] = static_cast<uint16_t>(r.start - x_min);
    ends[i] = static_cast<uint16_t>(r.end - x_min);
    const int d = r.end - r.start;
    if (d > w) w = d;
  }
  widest = w;
  return n > 0 ? at + 2 * n : at;
}

// Values taken together into one step of the bit stream: eight when their bits and the fewer
// than 16 carried from the step before fit a 64-bit window, else four.
template <int Bits>
inline constexpr int kStep = 8 * Bits + 15 <= 64 ? 8 : 4;
// Values read past the end of a piece pair's outline, each 0: the largest step less one.
constexpr int kPastEnd = 8 - 1;

static_assert(std::endian::native == std::endian::little, "four values are read as one 64-bit word");

// The four values at v, each cut to its low Bits bits, one after the other in the low 4 * Bits
// bits: read as one word (value k at bit 16 k), values 1 and 3 are moved down next to 0 and 2,
// then the pair of 2 and 3 next to the pair of 0 and 1.
template <int Bits>
[[gnu::always_inline]] inline uint64_t gather4(const uint16_t* v) {
  constexpr uint64_t kMask = (uint64_t{1} << Bits) - 1;
  constexpr uint64_t kPair = (uint64_t{1} << (2 * Bits)) - 1;
  uint64_t x;
  std::memcpy(&x, v, sizeof x);
  x = (x & (kMask | kMask << 32)) | ((x >> (16 - Bits)) & (kMask << Bits | kMask << (32 + Bits)));
  return (x & kPair) | ((x >> (32 - 2 * Bits)) & (kPair << (2 * Bits)));
}

// Packs n values of Bits bits each into 16-bit words: the values' bits one after the other from
// the lowest bit of word 0 on, values past the end counting as 0, in as many words as passes of a
// 32-bit accumulator take (each pass adds whole values above the bits carried from the pass
// before and keeps 16 of them) plus the carry left after the last one: p + 1 words, p the least
// p >= 1 with 16 * p + 16 >= n * Bits (p = 0 for n = 0). Returns that count; the words are not
// stored when a record of that many words would be refused for its length.
//
// Steps of kStep values are gathered with shifts known at compile time and added to a 64-bit
// window at once; the window is stored whole after every step (four words, of which those not
// complete are stored again by the next step) and the words that are complete counted, without a
// branch on the words filled.
// REQUIRES: values[n .. n + kPastEnd) are 0; words has room for kMaxOutlineWords words.
template <int Bits>
int pack_words(const uint16_t* values, int n, uint16_t* words) {
  constexpr int kWordBits = 16;
  // p = ceil((n * Bits - 16) / 16), at least 1; none without values.
  const int passes = n == 0 ? 0 : std::max(1, (n * Bits - 1) / kWordBits);
  const int count = passes + 1;
  if (2 * count + static_cast<int>(kPixHeadSize) >= kMaxRecordLength) return count;
  // Stores reach at most word count + 4: a step covers fewer than 64 bits past the values.
  static_assert((kMaxRecordLength - static_cast<int>(kPixHeadSize)) / 2 + 4 < kMaxOutlineWords);
  uint64_t window = 0;  // bits not yet in a complete word, below 16 between steps
  int bits = 0;
  int w = 0;
  for (int i = 0; i < n; i += kStep<Bits>) {
    uint64_t step = gather4<Bits>(values + i);
    if constexpr (kStep<Bits> == 8) step |= gather4<Bits>(values + i + 4) << (4 * Bits);
    window |= step << bits;
    bits += kStep<Bits> * Bits;
    std::memcpy(words + w, &window, sizeof window);
    const int complete = bits / kWordBits;
    w += complete;
    window >>= kWordBits * complete;
    bits -= kWordBits * complete;
  }
  // The steps covered the values' bits and more, so the words before w are complete and the
  // last one, count - 1, is w or lies before it (or is a zero word stored past w by a step).
  words[w] = static_cast<uint16_t>(window);
  return count;
}

// pack_words for nbits, 1 to kMaxValueBits.
int pack_values(const uint16_t* values, int n, int nbits, uint16_t* words) {
  static_assert(kMaxValueBits == 10);
  switch (nbits) {
    case 1:
      return pack_words<1>(values, n, words);
    case 2:
      return pack_words<2>(values, n, words);
    case 3:
      return pack_words<3>(values, n, words);
    case 4:
      return pack_words<4>(values, n, words);
    case 5:
      return pack_words<5>(values, n, words);
    case 6:
      return pack_words<6>(values, n, words);
    case 7:
      return pack_words<7>(values, n, words);
    case 8:
      return pack_words<8>(values, n, words);
    case 9:
      return pack_words<9>(values, n, words);
    default:
      return pack_words<10>(values, n, words);
  }
}

// How packing a pair speaks. The writer's packing (Spoken) writes the messages and the line of
// "res" as it goes; packing ahead (Quiet) writes nothing: it keeps the line for the writer and
// notes whether a message would have come, and the pair is then packed again by the writer.
struct Spoken {
  const MeasureRun& ctx;
  void too_many_lines(int la, int lb) {
    errf(ctx.diag, "%s", kTooManyLinesText);
    errf(ctx.diag, kLinesAText, la);
    errf(ctx.diag, kLinesBText, lb);
    fatal(ctx.diag, kMaxLinesText, MAXLIN);
  }
  // "res" exists (or its failure is reported) before the pair's own messages.
  void before_measures() { open_res_once(ctx); }
  bool measure(const Piece& a, const Piece& b, int wa, int wb, DropMeasures& m) {
    m = measure_drop(ctx, a, b, wa, wb);
    return true;
  }
  void res_line(const DropMeasures& m) { write_res_line(ctx, m); }
  template <typename... Args>
  void say(const char* format, Args... args) {
    errf(ctx.diag, format, args...);
  }
};

struct Quiet {
  QuietMeasure& ctx;
  char* res_text;
  size_t res_len = 0;
  bool spoke = false;
  void too_many_lines(int, int) { spoke = true; }
  void before_measures() {}
  bool measure(const Piece& a, const Piece& b, int wa, int wb, DropMeasures& m) {
    spoke = spoke || !measure_drop_quietly(ctx, a, b, wa, wb, m);
    return !spoke;
  }
  void res_line(const DropMeasures& m) {
    double values[kResValues];
    res_values(m, values);
    res_len = format_res_line(values, res_text);
  }
  template <typename... Args>
  void say(const char*, Args...) {
    spoke = true;
  }
};

// Measures the pair, gives its line of "res" to the voice and packs its record: true when the
// record was built. The voice hears every message in the order they come; `len_prev` goes into the
// head. With Quiet, the packing stops at the first message that would come.
template <typename Voice>
bool pack_with(Voice& voice, const Piece& drop_a, const Piece& drop_b, int16_t len_prev, uint16_t* outline,
               uint8_t* head) {
  const int la = drop_a.line_no;
  const int lb = drop_b.line_no;
  // Checked before the evaluation, which reads every line of both pieces.
  if (la < 0 || lb < 0 || 2 * la + 2 * lb > kMaxOutlineValues) {
    voice.too_many_lines(la, lb);
    return false;
  }

  // The text line is written also for a pair whose record is refused below.
  voice.before_measures();
  uint16_t values[kMaxOutlineValues + kPastEnd];
  int widest_a = 0;
  int widest_b = 0;
  int n = put_outline(drop_a, values, 0, widest_a);
  n = put_outline(drop_b, values, n, widest_b);
  std::fill_n(values + n, kPastEnd, uint16_t{0});

  DropMeasures m;
  if (!voice.measure(drop_a, drop_b, widest_a, widest_b, m)) return false;
  voice.res_line(m);

  // Bits per value: enough for the wider piece. A width that needs more than ten bits (or has none
  // of them set) would lose outline bits, so such a pair is refused; only damaged data get here.
  const int wa = drop_a.x_max - drop_a.x_min;
  const int wb = drop_b.x_max - drop_b.x_min;
  const unsigned low_bits = static_cast<unsigned>(wa | wb) & (kWidthLimit - 1);
  if (wa < 0 || wb < 0 || wa >= kWidthLimit || wb >= kWidthLimit || low_bits == 0) {
    voice.say(kWidthsText, wa, wb);
    return false;
  }
  const int nbits = static_cast<int>(std::bit_width(low_bits));

  const int words = pack_values(values, n, nbits, outline);
  const int length = 2 * words + static_cast<int>(kPixHeadSize);
  if (length >= kMaxRecordLength) {
    voice.say("%s", kTooLongText);
    return false;
  }

  const int16_t diff_lins = fixed_low16(drop_b.first_line - drop_a.first_line);
  if (static_cast<double>(m.eq_diam) < kSmallDiam) {
    voice.say("%s", kSmallDiamText);
    voice.say(kSmallDiamValueText, static_cast<double>(m.eq_diam));
    voice.say(kSmallDiamLinesAText, la);
    voice.say(kSmallDiamLinesBText, lb);
    voice.say(kSmallDiamDelayText, diff_lins);
  }

  // The line count difference is kept in 8 bits, sign-extended, as the stored format has it.
  const auto line_no_diff = static_cast<int8_t>(static_cast<uint8_t>(lb - la));
  put_u16(head + pixhead::kLenBits, static_cast<uint16_t>((nbits << kLenBitsShift) | length));
  put_i16(head + pixhead::kLenPrev, len_prev);
  put_f64(head + pixhead::kT1, drop_a.first_line);
  put_i16(head + pixhead::kEqDiam, fixed_low16(static_cast<double>(m.eq_diam * kDiamScale)));
  put_i16(head + pixhead::kLineNo, drop_a.line_no);
  put_i16(head + pixhead::kLineNoDiff, line_no_diff);
  put_i16(head + pixhead::kDiffLins, diff_lins);
  put_i16(head + pixhead::kXMinA, drop_a.x_min);
  put_i16(head + pixhead::kXMinB, drop_b.x_min);
  put_i16(head + pixhead::kVel, fixed_low16(static_cast<double>(m.vel * kFineScale)));
  put_i16(head + pixhead::kScaleA, fixed_low16(static_cast<double>(m.scale_a * kFineScale)));
  put_i16(head + pixhead::kScaleB, fixed_low16(static_cast<double>(m.scale_b * kFineScale)));
  return true;
}

}  // namespace

bool pack_particle(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, int16_t len_prev,
                   uint16_t* outline, uint8_t* head) {
  Spoken voice{ctx};
  return pack_with(voice, drop_a, drop_b, len_prev, outline, head);
}

bool pack_particle_quietly(QuietMeasure& ctx, const Piece& drop_a, const Piece& drop_b, uint16_t* outline,
                           uint8_t* head, char* res_text, size_t& res_len) {
  Quiet voice{ctx, res_text};
  if (!pack_with(voice, drop_a, drop_b, 0, outline, head) || voice.spoke) return false;
  res_len = voice.res_len;
  return true;
}

}  // namespace quorda
