// Which time of the day the output set shows as measured.
//
// The instrument stores lines only while something shadows them, so a silent stretch of the
// hydrometeor stream is dry weather as long as the instrument was running. What the set shows:
//   - the measurement starts with the first main header;
//   - it ends with the last thing the converter reached: the last particle record, the last main
//     header, or the start of the last minute of the raw-file minute index (".abh"), whichever is
//     latest;
//   - a main header that follows a silence (no particle record, no main header) of more than
//     `gap_s` seconds starts the instrument again: the silence before it was not measured. The
//     default gap_s is 1.5 times the median spacing of the main headers and at least 600 s, so that
//     headers the instrument writes at a regular pace never make a gap.
// Intervals outside the measured time have no products (missing values, not zero rain).
#pragma once

#include <vector>

namespace quorda::products {

struct TimeSpan {
  double from_s = 0;  // seconds of the day
  double to_s = 0;
};

struct DayEvents {
  std::vector<double> header_s;    // main header times, seconds of the day
  std::vector<double> particle_s;  // particle times
  double index_end_s = -1;         // start of the last minute in the raw-file minute index; -1: none
};

// The default gap threshold for these header times (seconds).
double default_gap_s(std::vector<double> header_s);

// The measured spans of the day, in order. gap_s < 0: the default; 0: no gaps.
std::vector<TimeSpan> measured_spans(DayEvents ev, double gap_s);

// Seconds of [from, to) that the spans cover.
double measured_seconds(const std::vector<TimeSpan>& spans, double from_s, double to_s);

}  // namespace quorda::products
