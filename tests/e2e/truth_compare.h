// Comparing what the converter measured with the truth table of a simulated day.
//
// Particles are tied to drops by camera A: a particle's first line (t1) is the first shadowed line
// of the drop in camera A, and its x_min_a the drop's smallest pixel there. A particle that begins
// inside a drop's shadow in camera A otherwise (a piece split off a shadow several drops shared) is
// explained by that drop too; any other particle is one that no drop explains.
//
// A drop counts as isolated when it is at least 0.5 mm, shared no shadow with another particle
// (merged), was not cut by the end of a line or a block, and no other particle shows in either
// camera from 1200 lines (the matching window) before its first line in A to its last line in B:
// then the pairing cannot take another particle's piece for it. It is expected to be found when,
// in addition, its piece widths pass the width test of the matching (perspective makes the widths
// of the two cameras differ near the corners, and the matching then rightly refuses the pair) and
// camera A went on for at least 1200 lines after it (pieces still waiting at the end of the data
// are never matched).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/particle_record.h"
#include "measure/pack_particle.h"
#include "sim/truth_csv.h"
#include "support/test_context.h"

namespace quorda::e2e {

using sim::ParticleKind;
using sim::TruthRow;

struct Particle {
  double t1 = 0;
  int x_min_a = 0;
  int x_min_b = 0;
  double diam = 0;   // mm
  double speed = 0;  // m/s
};

// The particle records of a hydrometeor file; line_fr from its last main header record. False
// when the stream is damaged.
inline bool read_hyd(const std::string& path, std::vector<Particle>* out, double* line_fr,
                     std::string* error) {
  const std::string bytes = quorda::testing::read_file(path);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  std::vector<std::pair<double, double>> raw;  // t1 and vel (mm per line) until line_fr is known
  std::vector<Particle> parts;
  size_t pos = 0;
  *line_fr = 0;
  while (pos + 4 <= bytes.size()) {
    const int16_t word = get_i16(p + pos);
    if (word == kMainHeaderIndic) {
      if (pos + kMainHeaderSize > bytes.size()) break;
      *line_fr = get_f64(p + pos + 22);
      pos += kMainHeaderSize;
      continue;
    }
    const size_t len = static_cast<uint16_t>(word) & 0x7FF;
    if (word < 0 || len < kPixHeadSize || pos + len > bytes.size()) {
      *error = "damaged record at " + std::to_string(pos);
      return false;
    }
    Particle q;
    q.t1 = get_f64(p + pos + pixhead::kT1);
    q.x_min_a = get_i16(p + pos + pixhead::kXMinA);
    q.x_min_b = get_i16(p + pos + pixhead::kXMinB);
    q.diam = get_i16(p + pos + pixhead::kEqDiam) / 100.0;
    q.speed = get_i16(p + pos + pixhead::kVel) / 10000.0;  // mm per line for now
    parts.push_back(q);
    pos += len;
  }
  if (pos != bytes.size()) {
    *error = "hydrometeor file ends inside a record";
    return false;
  }
  for (Particle& q : parts) q.speed *= *line_fr / 1000.0;
  *out = std::move(parts);
  return true;
}

// The width test of the matching on the truth's piece widths.
inline bool widths_pass(int wa, int wb) {
  if (wa == 0 || wb == 0 || std::abs(wa - wb) > 5) return false;
  const float r = static_cast<float>(wa) / static_cast<float>(wb);
  return !(r > 1.5f || r < 0.6666667f);
}

inline double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Laboratory fall speeds of water drops in still air at sea level, diameter (mm) and speed (m/s):
// an independent measurement, not the fit the products use.
constexpr double kLabFallSpeeds[][2] = {
    {0.1, 0.27}, {0.2, 0.72}, {0.3, 1.17}, {0.4, 1.62}, {0.5, 2.06}, {0.6, 2.47}, {0.7, 2.87},
    {0.8, 3.27}, {0.9, 3.67}, {1.0, 4.03}, {1.2, 4.64}, {1.4, 5.17}, {1.6, 5.65}, {1.8, 6.09},
    {2.0, 6.49}, {2.2, 6.90}, {2.4, 7.27}, {2.6, 7.57}, {2.8, 7.82}, {3.0, 8.06}, {3.2, 8.26},
    {3.4, 8.44}, {3.6, 8.60}, {3.8, 8.72}, {4.0, 8.83}, {4.2, 8.92}, {4.4, 8.98}, {4.6, 9.03},
    {4.8, 9.07}, {5.0, 9.09}, {5.2, 9.12}, {5.4, 9.14}, {5.6, 9.16}, {5.8, 9.17}};

inline double lab_fall_speed(double d) {
  constexpr size_t n = std::size(kLabFallSpeeds);
  if (d <= kLabFallSpeeds[0][0]) return kLabFallSpeeds[0][1];
  for (size_t i = 1; i < n; ++i) {
    if (d <= kLabFallSpeeds[i][0]) {
      const double f = (d - kLabFallSpeeds[i - 1][0]) / (kLabFallSpeeds[i][0] - kLabFallSpeeds[i - 1][0]);
      return kLabFallSpeeds[i - 1][1] + f * (kLabFallSpeeds[i][1] - kLabFallSpeeds[i - 1][1]);
    }
  }
  return kLabFallSpeeds[n - 1][1];
}

// Each 0.5 mm bin from 0.5 to 5 mm that holds at least 20 particles has a median ratio of measured
// speed to the terminal speed at the measured diameter within 5% of 1; at least three bins do.
inline void expect_terminal_speeds(const std::vector<Particle>& parts, const char* what) {
  constexpr int kBins = 9;  // 0.5 to 5 mm
  std::vector<double> ratios[kBins];
  for (const Particle& q : parts) {
    const int bin = static_cast<int>(std::floor((q.diam - 0.5) / 0.5));
    if (bin >= 0 && bin < kBins) ratios[bin].push_back(q.speed / lab_fall_speed(q.diam));
  }
  int bins_tested = 0;
  for (int b = 0; b < kBins; ++b) {
    if (ratios[b].size() < 20) continue;
    ++bins_tested;
    const double m = median(ratios[b]);
    std::printf("%s, %.1f-%.1f mm: %zu particles, median speed / terminal speed %.3f\n", what, 0.5 + 0.5 * b,
                1.0 + 0.5 * b, ratios[b].size(), m);
    EXPECT_NEAR(m, 1.0, 0.05) << what << ", bin from " << 0.5 + 0.5 * b << " mm";
  }
  EXPECT_GE(bins_tested, 3) << what;
}

struct Comparison {
  size_t expected = 0;  // isolated drops that the matching can find
  size_t found = 0;
  size_t unexplained = 0;                   // particles that no drop explains
  std::vector<double> diam_err, speed_err;  // relative, absolute value, found expected drops
  double found_share() const {
    return expected ? static_cast<double>(found) / static_cast<double>(expected) : 0;
  }
};

// Indices of the isolated drops among the rows, in their order. last_line_a: the last line of
// camera A in the raw file.
inline std::vector<size_t> expected_drops(const std::vector<TruthRow>& rows, int64_t last_line_a) {
  // Lines of every particle in either camera, sorted by start, for the neighbourhood test.
  struct Span {
    int64_t first, last;
    uint64_t id;
  };
  std::vector<Span> spans;
  for (const TruthRow& r : rows)
    for (int cam = 0; cam < 2; ++cam)
      if (r.lines[cam] > 0) spans.push_back({r.first_line[cam], r.last_line[cam], r.id});
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
  int64_t longest = 0;
  for (const Span& s : spans) longest = std::max(longest, s.last - s.first);

  std::vector<size_t> out;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TruthRow& r = rows[i];
    if (r.kind != ParticleKind::kDrop || r.diam < 0.5 || r.merged || r.edge || r.cut) continue;
    if (r.lines[0] < 2 || r.lines[1] < 2 || !widths_pass(r.width[0], r.width[1])) continue;
    if (r.first_line[0] + static_cast<int64_t>(MATCH_SPAN) > last_line_a) continue;
    const int64_t lo = r.first_line[0] - static_cast<int64_t>(MATCH_SPAN);
    const int64_t hi = std::max(r.last_line[0], r.last_line[1]) + 2;
    auto it = std::lower_bound(spans.begin(), spans.end(), lo - longest,
                               [](const Span& s, int64_t v) { return s.first < v; });
    bool alone = true;
    for (; it != spans.end() && it->first <= hi && alone; ++it)
      if (it->id != r.id && it->last >= lo) alone = false;
    if (alone) out.push_back(i);
  }
  return out;
}

inline Comparison compare(const std::vector<TruthRow>& rows, const std::vector<Particle>& parts,
                          int64_t last_line_a) {
  Comparison c;
  // Drops seen by camera A, by their first line there.
  std::vector<const TruthRow*> drops;
  for (const TruthRow& r : rows)
    if (r.kind == ParticleKind::kDrop && r.lines[0] > 0) drops.push_back(&r);
  std::sort(drops.begin(), drops.end(),
            [](const TruthRow* a, const TruthRow* b) { return a->first_line[0] < b->first_line[0]; });
  int64_t longest = 0;
  for (const TruthRow* r : drops) longest = std::max(longest, r->last_line[0] - r->first_line[0]);

  std::map<uint64_t, const Particle*> found;
  for (const Particle& q : parts) {
    // The drop whose first line and place in camera A the particle has; failing that, a drop in
    // whose shadow the particle begins (a piece split off a shadow that several drops shared).
    const TruthRow* first = nullptr;
    bool inside = false;
    const bool on_line = q.t1 == std::floor(q.t1);  // the simulated lines are whole numbers
    auto it = std::lower_bound(
        drops.begin(), drops.end(), q.t1 - static_cast<double>(longest),
        [](const TruthRow* r, double v) { return static_cast<double>(r->first_line[0]) < v; });
    for (; it != drops.end() && static_cast<double>((*it)->first_line[0]) <= q.t1; ++it) {
      const TruthRow& r = **it;
      if (static_cast<double>(r.last_line[0]) < q.t1) continue;
      const bool in_x = q.x_min_a >= r.x_min[0] - 1 && q.x_min_a < r.x_max[0];
      if (in_x && static_cast<double>(r.first_line[0]) == q.t1) first = &r;
      inside |= on_line && (in_x || r.merged);
    }
    if (first != nullptr) {
      if (!found.emplace(first->id, &q).second) ++c.unexplained;  // a second particle for one drop
    } else if (!inside) {
      ++c.unexplained;
    }
  }
  for (size_t i : expected_drops(rows, last_line_a)) {
    const TruthRow& r = rows[i];
    ++c.expected;
    auto f = found.find(r.id);
    if (f == found.end()) continue;
    ++c.found;
    c.diam_err.push_back(std::abs(f->second->diam / r.diam - 1));
    c.speed_err.push_back(std::abs(f->second->speed / r.speed - 1));
  }
  return c;
}

}  // namespace quorda::e2e
