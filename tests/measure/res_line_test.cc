// The "res" line formatter against the C library's printf over random, tied, huge, tiny and
// non-finite values: every byte must be the same.
#include "measure/res_line.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace quorda {
namespace {

constexpr const char* kResFormat =
    "%6.3f %8.5f %5.3lf %5.3lf %5.3lf %5.3lf %5.3lf %5.3lf %7.4lf %7.4lf %7.4lf %7.4lf %7.4lf %7.4lf "
    "%7.4lf\n";

struct FieldShape {
  int width;
  int precision;
};
constexpr FieldShape kShapes[] = {{6, 3}, {8, 5}, {5, 3}, {7, 4}};

// The converter writes a not-a-number with its sign bit set as "-nan", as the GNU C library's
// printf does, so that "res" is the same on every system; the C library of Windows leaves the
// sign out.
bool printf_drops_nan_sign() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%f", -std::numeric_limits<double>::quiet_NaN());
  return buf[0] != '-';
}

std::string printf_field(double x, int width, int precision) {
  char buf[400];
  if (std::isnan(x) && std::signbit(x) && printf_drops_nan_sign()) {
    const int n = std::snprintf(buf, sizeof buf, "%*s", width, "-nan");
    return std::string(buf, static_cast<size_t>(n));
  }
  const int n = std::snprintf(buf, sizeof buf, "%*.*f", width, precision, x);
  return std::string(buf, static_cast<size_t>(n));
}

std::string our_field(double x, int width, int precision) {
  char buf[kFixedMaxChars + 8];
  const char* end = put_fixed(buf, x, width, precision);
  return std::string(buf, static_cast<size_t>(end - buf));
}

std::string printf_line(const double (&v)[kResValues]) {
  if (printf_drops_nan_sign()) {
    // Field by field, each as above; the format puts one blank between fields.
    static constexpr FieldShape kLine[kResValues] = {{6, 3}, {8, 5}, {5, 3}, {5, 3}, {5, 3},
                                                     {5, 3}, {5, 3}, {5, 3}, {7, 4}, {7, 4},
                                                     {7, 4}, {7, 4}, {7, 4}, {7, 4}, {7, 4}};
    std::string line;
    for (int i = 0; i < kResValues; ++i)
      line += (i > 0 ? " " : "") + printf_field(v[i], kLine[i].width, kLine[i].precision);
    return line + "\n";
  }
  char buf[kResLineMax + 1];
  const int n = std::snprintf(buf, sizeof buf, kResFormat, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                              v[8], v[9], v[10], v[11], v[12], v[13], v[14]);
  return std::string(buf, static_cast<size_t>(n));
}

std::string our_line(const double (&v)[kResValues]) {
  char buf[kResLineMax];
  const size_t n = format_res_line(v, buf);
  return std::string(buf, n);
}

// Counts the mismatches of one value over all field shapes; prints the first few.
int mismatches(double x, int* shown) {
  int bad = 0;
  for (const FieldShape& f : kShapes) {
    const std::string want = printf_field(x, f.width, f.precision);
    const std::string got = our_field(x, f.width, f.precision);
    if (got == want) continue;
    ++bad;
    if ((*shown)++ < 10) {
      ADD_FAILURE() << "bits " << std::hex << std::bit_cast<uint64_t>(x) << " %" << std::dec << f.width << "."
                    << f.precision << "f: want [" << want << "] got [" << got << "]";
    }
  }
  return bad;
}

// Magnitudes a drop's measures take, and well beyond: 1e-9 to 1e9, either sign.
double plausible(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> exp10(-9.0, 9.0), unit(0.0, 1.0);
  const double x = std::pow(10.0, exp10(rng)) * unit(rng);
  return (rng() & 1) ? -x : x;
}

// Values whose exact binary value ends in a 5 just past the last printed decimal (ties that go
// to the even digit), the nearest doubles on both sides, and decimal texts x.xxx5 that are not
// exact in binary.
double near_tie(std::mt19937_64& rng) {
  const int precision = 3 + static_cast<int>(rng() % 3);
  const double whole = static_cast<double>(rng() % 20000) - 10000.0;
  double x;
  if (rng() & 1) {
    const int q = precision + 1 + static_cast<int>(rng() % 3);
    x = whole + std::ldexp(static_cast<double>(rng() % (uint64_t{1} << q)), -q);
  } else {
    constexpr unsigned long long kPow10[] = {1, 10, 100, 1000, 10000, 100000};
    char text[64];
    std::snprintf(text, sizeof text, "%.0f.%0*llu5", whole, precision, rng() % kPow10[precision]);
    x = std::strtod(text, nullptr);
  }
  switch (rng() % 3) {
    case 0:
      return std::nextafter(x, -INFINITY);
    case 1:
      return std::nextafter(x, INFINITY);
    default:
      return x;
  }
}

TEST(ResLine, FieldsMatchPrintfForRandomBitPatterns) {
  // Every exponent alike: mostly huge (hundreds of digits) or tiny values, NaNs with payloads.
  std::mt19937_64 rng(20261209);
  int shown = 0, bad = 0;
  for (int i = 0; i < 60000; ++i) bad += mismatches(std::bit_cast<double>(rng()), &shown);
  EXPECT_EQ(bad, 0);
}

TEST(ResLine, FieldsMatchPrintfForPlausibleMagnitudes) {
  std::mt19937_64 rng(7);
  int shown = 0, bad = 0;
  for (int i = 0; i < 500000; ++i) bad += mismatches(plausible(rng), &shown);
  EXPECT_EQ(bad, 0);
}

TEST(ResLine, FieldsMatchPrintfAtAndBesideRoundingTies) {
  std::mt19937_64 rng(11);
  int shown = 0, bad = 0;
  for (int i = 0; i < 300000; ++i) bad += mismatches(near_tie(rng), &shown);
  EXPECT_EQ(bad, 0);
}

TEST(ResLine, SpecialAndBoundaryValuesMatchPrintf) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double specials[] = {0.0,
                             -0.0,
                             INFINITY,
                             -INFINITY,
                             nan,
                             -nan,
                             std::bit_cast<double>(uint64_t{0x7ff0000000000001}),  // signalling NaN
                             std::bit_cast<double>(uint64_t{0xfff8000000001234}),  // negative, payload
                             DBL_MAX,
                             -DBL_MAX,
                             DBL_MIN,
                             -DBL_MIN,
                             std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min(),
                             -0.0004,
                             -0.00049999,
                             0.0005,
                             0.00005,
                             9.9995,
                             99.99995,
                             999.9995,
                             -999.9995,
                             9999.99995,
                             1e15,
                             -123456789.125,
                             9007199254740993.0,
                             std::ldexp(1.0, 47),  // the largest values that are rounded in integers
                             std::nextafter(std::ldexp(1.0, 47), 0.0),
                             -std::ldexp(1.0, 47) + 0.03125,
                             0.5,
                             1.5,
                             2.5};
  int shown = 0;
  for (double x : specials) EXPECT_EQ(mismatches(x, &shown), 0) << x;

  // The texts themselves, so that the comparison above cannot pass on a shared mistake.
  EXPECT_EQ(our_field(-nan, 5, 3), " -nan");
  EXPECT_EQ(our_field(nan, 7, 4), "    nan");
  EXPECT_EQ(our_field(-INFINITY, 6, 3), "  -inf");
  EXPECT_EQ(our_field(-0.0, 5, 3), "-0.000");
  EXPECT_EQ(our_field(-0.00001, 6, 3), "-0.000");
  EXPECT_EQ(our_field(0.0625, 6, 3), " 0.062");
  EXPECT_EQ(our_field(0.1875, 6, 3), " 0.188");
  EXPECT_EQ(our_field(12345.678, 5, 3), "12345.678");
  EXPECT_EQ(our_field(DBL_MAX, 5, 3).size(), 309u + 4u);
}

TEST(ResLine, WholeLinesMatchPrintf) {
  std::mt19937_64 rng(3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double specials[] = {0.0, -0.0, INFINITY, -INFINITY, nan, -nan, DBL_MAX, -1e-300};
  int shown = 0;
  for (int i = 0; i < 40000; ++i) {
    double v[kResValues];
    for (double& x : v) {
      // A field often repeats the value before it, in the line's own fields as in others.
      if (&x != v && rng() % 3 == 0) {
        x = (&x)[-1];
        continue;
      }
      switch (rng() % 8) {
        case 0:
          x = specials[rng() % std::size(specials)];
          break;
        case 1:
          x = std::bit_cast<double>(rng());
          break;
        case 2:
          x = near_tie(rng);
          break;
        default:
          x = plausible(rng);
      }
    }
    const std::string want = printf_line(v);
    const std::string got = our_line(v);
    if (got != want && shown++ < 5) ADD_FAILURE() << "want [" << want << "] got [" << got << "]";
  }
  EXPECT_EQ(shown, 0);
}

}  // namespace
}  // namespace quorda
