// The line of the text file "res", formatted without the C library's printf machinery.
//
// A value below 2^47 in magnitude (every plausible measure) is rounded by exact integer arithmetic:
// the double is m * 2^-s with an integer m, so |x| * 10^precision = m * 10^precision / 2^s, which
// fits 128 bits, and the quotient is rounded to nearest with ties to even, as printf rounds the
// exact binary value. Larger values take std::to_chars, whose fixed notation with a precision is
// printf's digit for digit.
#include "measure/res_line.h"

#include <array>
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

}  // namespace

char* put_fixed(char* out, double x, int width, int precision) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>(bits >> kMantissaBits) & kExponentMask;
  uint64_t m = bits & ((uint64_t{1} << kMantissaBits) - 1);
  int shift = kSubnormalShift;
  if (biased != 0) {
    m |= uint64_t{1} << kMantissaBits;
    shift = kShiftOfBiasedZero - biased;
  }
  if (shift < kLeastExactShift) return put_other(out, x, width, precision);
  // Negative values keep their sign even when they round to zero, as does -0.
  const bool negative = (bits >> 63) != 0;
  const uint64_t q = scaled_round(m, shift, precision);
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

size_t format_res_line(const double (&values)[kResValues], char* out) {
  char* p = out;
  for (int i = 0; i < kResValues; ++i) {
    if (i > 0) *p++ = ' ';
    p = put_fixed(p, values[i], kFields[i].width, kFields[i].precision);
  }
  *p++ = '\n';
  return static_cast<size_t>(p - out);
}

}  // namespace quorda
