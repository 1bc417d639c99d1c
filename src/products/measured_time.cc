// Which time of the day the output set shows as measured.
#include "products/measured_time.h"

#include <algorithm>
#include <utility>

namespace quorda::products {
namespace {

constexpr double kLeastGapS = 600;
constexpr double kGapPerSpacing = 1.5;

}  // namespace

double default_gap_s(std::vector<double> header_s) {
  std::sort(header_s.begin(), header_s.end());
  std::vector<double> step;
  for (size_t i = 1; i < header_s.size(); ++i)
    if (header_s[i] > header_s[i - 1]) step.push_back(header_s[i] - header_s[i - 1]);
  if (step.empty()) return kLeastGapS;
  std::nth_element(step.begin(), step.begin() + static_cast<long>(step.size() / 2), step.end());
  return std::max(kLeastGapS, kGapPerSpacing * step[step.size() / 2]);
}

std::vector<TimeSpan> measured_spans(DayEvents ev, double gap_s) {
  std::vector<TimeSpan> spans;
  if (ev.header_s.empty()) return spans;
  if (gap_s < 0) gap_s = default_gap_s(ev.header_s);
  std::vector<std::pair<double, bool>> events;  // time, is a header
  for (double t : ev.header_s) events.emplace_back(t, true);
  for (double t : ev.particle_s) events.emplace_back(t, false);
  std::sort(events.begin(), events.end());
  const double start = *std::min_element(ev.header_s.begin(), ev.header_s.end());
  double end = std::max(events.back().first, ev.index_end_s);
  TimeSpan cur{start, start};
  for (size_t i = 1; i < events.size(); ++i) {
    const auto& [t, header] = events[i];
    const double before = events[i - 1].first;
    if (before < start) continue;
    if (header && gap_s > 0 && t - before > gap_s) {
      cur.to_s = before;
      if (cur.to_s > cur.from_s) spans.push_back(cur);
      cur = {t, t};
    }
  }
  cur.to_s = std::max(end, cur.from_s);
  if (cur.to_s > cur.from_s) spans.push_back(cur);
  return spans;
}

double measured_seconds(const std::vector<TimeSpan>& spans, double from_s, double to_s) {
  double s = 0;
  for (const TimeSpan& sp : spans) s += std::max(0.0, std::min(to_s, sp.to_s) - std::max(from_s, sp.from_s));
  return s;
}

}  // namespace quorda::products
