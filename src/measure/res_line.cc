// The line of the text file "res", formatted without the C library's printf machinery.
//
// A value below 2^47 in magnitude (every plausible measure) is rounded by exact integer arithmetic:
// the double is m * 2^-s with an integer m, so |x| * 10^precision = m * 10^precision / 2^s, which
// fits 128 bits, and the quotient is rounded to nearest with ties to even, as printf rounds the
// exact binary value. Larger values take std::to_chars, whose fixed notation with a precision is
// printf's digit for digit.
#include "measure/res_line.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quorda {

namespace {

struct Field {
  int width;
  int precision;
};

// The fields of the line, in order.
constexpr Field kFields[kResValues] = {
    {6, 3}, {8, 5}, {5, 3}, {5, 3}, {5, 3}, {5, 3}, {5, 3}, {5, 3},
    {7, 4}, {7, 4}, {7, 4}, {7, 4}, {7, 4}, {7, 4}, {7, 4},
};

// Powers of ten up to the largest that fits 64 bits.
constexpr int kMaxDigits = 20;
constexpr std::array<uint64_t, kMaxDigits> kPow10 = [] {
  std::array<uint64_t, kMaxDigits> t{};
  uint64_t v = 1;
  for (uint64_t& e : t) {
    e = v;
    v *= 10;  // wraps after the last entry, unused
  }
  return t;
}();

constexpr int kMantissaBits = 52;
constexpr int kExponentMask = 0x7ff;
constexpr int kShiftOfBiasedZero = 1075;  // s of a normal double with biased exponent e: 1075 - e
constexpr int kSubnormalShift = 1074;
// From this shift on (|x| < 2^47) the rounded |x| * 10^5 fits 64 bits.
constexpr int kLeastExactShift = kMantissaBits + 1 - 47;
// From this shift on |x| * 10^5 (below 2^70 / 2^shift) is less than half and rounds to 0.
constexpr int kZeroShift = 128;

// A double as m * 2^-shift with a whole m below 2^53 (sign, infinities and NaNs aside: the sign
// is the top bit of `bits`, and a non-finite x gives a shift below kLeastExactShift).
struct SplitDouble {
  uint64_t bits;
  uint64_t m;
  int shift;
};

[[gnu::always_inline]] inline SplitDouble split_double(double x) {
  SplitDouble d;
  std::memcpy(&d.bits, &x, sizeof d.bits);
  const int biased = static_cast<int>(d.bits >> kMantissaBits) & kExponentMask;
  d.m = d.bits & ((uint64_t{1} << kMantissaBits) - 1);
  d.shift = kSubnormalShift;
  if (biased != 0) {
    d.m |= uint64_t{1} << kMantissaBits;
    d.shift = kShiftOfBiasedZero - biased;
  }
  return d;
}

using u128 = unsigned __int128;

// Size of the block of spaces laid down before a field of the exact path is written.
constexpr size_t kBlock = 32;

// |x| * 10^precision rounded to an integer, ties to even, for a finite x whose shift s
// (x = m * 2^-s) is at least kLeastExactShift.
uint64_t scaled_round(uint64_t m, int shift, int precision) {
  if (shift >= kZeroShift) return 0;
  const u128 num = static_cast<u128>(m) * kPow10[precision];
  auto q = static_cast<uint64_t>(num >> shift);
  const u128 rem = num - (static_cast<u128>(q) << shift);
  const u128 half = static_cast<u128>(1) << (shift - 1);
  // Without branches: whether a value rounds up is a coin toss to the branch predictor.
  const bool up = (rem > half) | ((rem == half) & ((q & 1) != 0));
  return q + static_cast<uint64_t>(up);
}

// The same for P decimals, in 64 bits where they suffice: |x| * 10^P = m * 5^P / 2^(s - P), and
// m * 5^P stays below 2^63 for P <= 4 (m < 2^53, 5^4 < 2^10).
template <int P>
[[gnu::always_inline]] inline uint64_t scaled_round_small(uint64_t m, int shift) {
  if constexpr (P <= 4) {
    constexpr uint64_t kPow5 = kPow10[P] >> P;
    const int t = shift - P;
    if (t >= 1 && t <= 63) {
      const uint64_t num = m * kPow5;
      const uint64_t q = num >> t;
      const uint64_t rem = num & ((uint64_t{1} << t) - 1);
      const uint64_t half = uint64_t{1} << (t - 1);
      const bool up = (rem > half) | ((rem == half) & ((q & 1) != 0));
      return q + static_cast<uint64_t>(up);
    }
  }
  return scaled_round(m, shift, P);
}

// Writes `text` (len bytes) right-aligned in `width` characters.
char* put_padded(char* out, const char* text, int len, int width) {
  if (len < width) {
    std::memset(out, ' ', static_cast<size_t>(width - len));
    out += width - len;
  }
  std::memcpy(out, text, static_cast<size_t>(len));
  return out + len;
}

// Writes the fixed notation of a value that the exact path cannot take: to_chars for a large
// finite value, the texts of the non-finite ones.
char* put_other(char* out, double x, int width, int precision) {
  char text[kFixedMaxChars];
  int len;
  if (std::isfinite(x)) {
    len = static_cast<int>(
        std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, precision).ptr - text);
  } else {
    const char* s = std::isnan(x) ? (std::signbit(x) ? "-nan" : "nan") : (x < 0 ? "-inf" : "inf");
    len = static_cast<int>(std::strlen(s));
    std::memcpy(text, s, static_cast<size_t>(len));
  }
  return put_padded(out, text, len, width);
}

// Number of decimal digits of v (1 for 0).
int digit_count(uint64_t v) {
  int n = 1;
  while (n < kMaxDigits && v >= kPow10[n]) ++n;
  return n;
}

// Writes q / 10^precision with `precision` decimals, right-aligned in `width` characters. The
// padding is laid down as a block of spaces of fixed size (cheaper than one of the exact length;
// bytes past the field are scratch), then the field is written backwards from its end: decimals,
// point, whole part, sign.
template <int Precision>
char* put_scaled(char* out, bool negative, uint64_t q, int width) {
  constexpr uint64_t kScale = kPow10[Precision];
  uint64_t whole = q / kScale;
  auto frac = static_cast<uint32_t>(q % kScale);
  const int len = static_cast<int>(negative) + digit_count(whole) + (Precision > 0 ? Precision + 1 : 0);
  const int field = len > width ? len : width;
  std::memset(out, ' ', kBlock);
  if (field > static_cast<int>(kBlock)) std::memset(out, ' ', static_cast<size_t>(field));
  char* p = out + field;
  for (int i = 0; i < Precision; ++i) {
    *--p = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  if (Precision > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (negative) *--p = '-';
  return out + field;
}

static_assert(std::endian::native == std::endian::little, "fields are built as little-endian words");

constexpr uint64_t repeat_byte(char c) {
  return 0x0101010101010101u * static_cast<unsigned char>(c);
}

// The eight decimal digits of v < 10^8, with leading zeros, as ASCII in a word whose lowest byte
// is the first digit: two 4-digit halves, four 2-digit quarters, eight digits, each step in
// parallel lanes by multiplications with reciprocals that are exact for the lane's range.
[[gnu::always_inline]] inline uint64_t eight_digits(uint64_t v) {
  uint64_t x = (v / 10000) | ((v % 10000) << 32);            // lanes of 32 bits, each below 10^4
  uint64_t top = ((x * 10486) >> 20) & 0x0000007F0000007Fu;  // lane / 100 (exact below 43699)
  x = top | ((x - top * 100) << 16);                         // lanes of 16 bits, each below 100
  top = ((x * 103) >> 10) & 0x000F000F000F000Fu;             // lane / 10 (exact below 179)
  x = top | ((x - top * 10) << 8);                           // bytes, each below 10
  return x | repeat_byte('0');
}

// Writes a field of width W with P decimals: the word path when the text fits, else put_scaled.
template <int W, int P>
[[gnu::always_inline]] inline char* put_field(char* out, double x) {
  static_assert(W <= 8 && P >= 1 && P + 2 <= W, "the word path takes fields of up to 8 characters");
  const SplitDouble parts = split_double(x);
  if (parts.shift < kLeastExactShift) return put_other(out, x, W, P);
  const bool negative = (parts.bits >> 63) != 0;
  const uint64_t q = scaled_round_small<P>(parts.m, parts.shift);
  // The text is sign, whole digits (at least one), point and P decimals: it fits W characters
  // when q has at most W - 1 digits, W - 2 with a sign (and a sign needs room for itself).
  constexpr uint64_t kPositiveLimit = kPow10[W - 1];
  constexpr uint64_t kNegativeLimit = W - 2 >= P + 1 ? kPow10[W - 2] : 0;
  if (q >= (negative ? kNegativeLimit : kPositiveLimit)) return put_scaled<P>(out, negative, q, W);

  // Byte k of the field: whole digits for k < W - P - 1 (digit k + 9 - W of the eight), the point,
  // then decimals (digit k + 8 - W).
  constexpr int kWhole = W - P - 1;
  constexpr uint64_t kWholeMask = (uint64_t{1} << (8 * kWhole)) - 1;
  constexpr uint64_t kFracMask = ((uint64_t{1} << (8 * P)) - 1) << (8 * (W - P));
  const uint64_t d = eight_digits(q);
  uint64_t f = ((d >> (8 * (9 - W))) & kWholeMask) | ((d >> (8 * (8 - W))) & kFracMask) |
               (static_cast<uint64_t>('.') << (8 * kWhole));
  if constexpr (kWhole == 1) {
    // One whole digit, always kept; a negative value never gets here (no room for its sign).
    static_assert(kNegativeLimit == 0);
  } else if constexpr (kWhole == 2) {
    // The first of two whole digits becomes a space when it is a zero, and a negative value
    // (below 10 in magnitude by the limit above) has its sign there.
    const auto zero = static_cast<uint64_t>((f & 0xFF) == '0');
    static_assert(kNegativeLimit == kPow10[P + 1]);
    f ^= zero * static_cast<uint64_t>('0' ^ ' ');
    f ^= static_cast<uint64_t>(negative) * static_cast<uint64_t>('-' ^ ' ');
  } else {
    // Leading zeros of the whole part, its last digit always kept, become spaces.
    const uint64_t nonzero = (f ^ repeat_byte('0')) | (uint64_t{1} << (8 * (kWhole - 1)));
    const int lead = std::countr_zero(nonzero) / 8;
    const uint64_t spaces = (uint64_t{1} << (8 * lead)) - 1;
    f = (f & ~spaces) | (repeat_byte(' ') & spaces);
    // The sign in the space before the first digit (there is one: see the limits above).
    const uint64_t sign = static_cast<uint64_t>('-' ^ ' ') << ((8 * lead - 8) & 63);
    f ^= sign & (uint64_t{0} - static_cast<uint64_t>(negative));
  }
  std::memcpy(out, &f, sizeof f);
  return out + W;
}

}  // namespace

char* put_fixed(char* out, double x, int width, int precision) {
  // The shapes of the line's fields take the word path.
  if (width == 6 && precision == 3) return put_field<6, 3>(out, x);
  if (width == 8 && precision == 5) return put_field<8, 5>(out, x);
  if (width == 5 && precision == 3) return put_field<5, 3>(out, x);
  if (width == 7 && precision == 4) return put_field<7, 4>(out, x);
  const SplitDouble parts = split_double(x);
  if (parts.shift < kLeastExactShift) return put_other(out, x, width, precision);
  // Negative values keep their sign even when they round to zero, as does -0.
  const bool negative = (parts.bits >> 63) != 0;
  const uint64_t q = scaled_round(parts.m, parts.shift, precision);
  switch (precision) {
    case 0:
      return put_scaled<0>(out, negative, q, width);
    case 1:
      return put_scaled<1>(out, negative, q, width);
    case 2:
      return put_scaled<2>(out, negative, q, width);
    case 3:
      return put_scaled<3>(out, negative, q, width);
    case 4:
      return put_scaled<4>(out, negative, q, width);
    default:
      return put_scaled<5>(out, negative, q, width);
  }
}

namespace {

// Field i of the line and the fields after it, each after a space; `prev` is where field i - 1
// begins. A field of the same shape as the one before and the same bits in its value has the
// same text, which is copied rather than formatted again: the velocities from the first and
// from the last lines are often one value.
template <size_t I>
[[gnu::always_inline]] inline char* put_fields_from(char* p, const char* prev,
                                                    const double (&values)[kResValues]) {
  if constexpr (I < kResValues) {
    constexpr int kWidth = kFields[I].width;
    constexpr int kPrecision = kFields[I].precision;
    if constexpr (I > 0) *p++ = ' ';
    char* const start = p;
    bool copied = false;
    if constexpr (I > 0 && kFields[I - 1].width == kWidth && kFields[I - 1].precision == kPrecision) {
      if (std::bit_cast<uint64_t>(values[I]) == std::bit_cast<uint64_t>(values[I - 1])) {
        // The text before ends just before the space: the two ranges do not overlap. It is
        // longer than the width only for a value too large for it.
        const auto len = static_cast<size_t>(start - 1 - prev);
        if (len == kWidth) {
          std::memcpy(p, prev, kWidth);
        } else {
          std::memcpy(p, prev, len);
        }
        p += len;
        copied = true;
      }
    }
    if (!copied) p = put_field<kWidth, kPrecision>(p, values[I]);
    // One call to the next field, whichever way this one was made: two would double the code
    // inlined at every field.
    return put_fields_from<I + 1>(p, start, values);
  } else {
    return p;
  }
}

}  // namespace

size_t format_res_line(const double (&values)[kResValues], char* out) {
  char* p = put_fields_from<0>(out, out, values);
  *p++ = '\n';
  return static_cast<size_t>(p - out);
}

}  // namespace quorda
