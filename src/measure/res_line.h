// The line of the text file "res": the fifteen measures of one drop in fixed notation, each
// right-aligned in a field of its own and separated by single spaces, ended by a newline.
//
// The bytes are those of the C library's "%6.3f %8.5f %5.3f (six times) %7.4f (seven times)\n":
// digits rounded from the exact binary value, a minus sign on negative values and on -0, values
// wider than their field written whole, and "inf", "-inf", "nan", "-nan" for the non-finite values
// (the sign of a NaN is its sign bit). No allocation, no locale, no system call.
#pragma once

#include <cstddef>

namespace quorda {

inline constexpr int kResValues = 15;

// Longest text of one value: a sign, the 309 digits before the point of the largest double, the
// point and up to five decimals.
inline constexpr size_t kFixedMaxChars = 1 + 309 + 1 + 5;
// Longest line: fifteen values, fourteen spaces, the newline.
inline constexpr size_t kResLineMax = kResValues * kFixedMaxChars + kResValues;

// Writes `x` with `precision` decimals (0 to 5), right-aligned in `width` characters (padded with
// spaces on the left, never cut), and returns the end of the field. Bytes past that end, within
// the room below, may be overwritten as scratch.
// REQUIRES: out has room for max(width, kFixedMaxChars) bytes.
char* put_fixed(char* out, double x, int width, int precision);

// Writes the line of `values` (diameter, plane distance, the six velocities, then heights, widths
// and axis ratios) and returns its length. No terminating NUL.
// REQUIRES: out has room for kResLineMax bytes.
size_t format_res_line(const double (&values)[kResValues], char* out);

}  // namespace quorda
