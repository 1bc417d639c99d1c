// The simulated rain day: record layout, blocks, truth table, reproducibility and rain physics.
#include "sim/rain_day.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "format/main_header.h"
#include "format/raw_record.h"
#include "sim/rain_physics.h"
#include "sim/sim_support.h"

namespace quorda::sim {
namespace {

using testing::BlockLog;
using testing::MemorySink;
using testing::raw_records;
using testing::short_day;
using testing::TruthRows;

struct Day {
  MemorySink raw;
  TruthRows truth;
  BlockLog log;
  DayStats stats;
  explicit Day(const DayConfig& c) { stats = simulate_day(c, raw, truth, &log); }
};

TEST(MidnightSeconds, CountsCalendarDaysFromTheEpoch) {
  EXPECT_EQ(midnight_seconds(1970, 1), 0);
  EXPECT_EQ(midnight_seconds(2000, 1), 946684800);
  EXPECT_EQ(midnight_seconds(2000, 60), 951782400);  // 29 February of a leap year
  EXPECT_EQ(midnight_seconds(2001, 60), 983404800);  // 1 March
  EXPECT_EQ(midnight_seconds(2026, 150) % 86400, 0);
}

TEST(SimulateDay, StartsWithTheMainHeaderAndInterleavesLaterRecordsInTimeOrder) {
  const DayConfig c = short_day(3);
  Day day(c);
  const auto recs = raw_records(day.raw.bytes);
  ASSERT_FALSE(recs.empty());
  EXPECT_EQ(day.stats.raw_bytes, day.raw.bytes.size());
  ASSERT_EQ(recs[0].kind, kKindMainHeader);
  ASSERT_EQ(recs[0].length, static_cast<int16_t>(kRawMainHeaderSize));
  const RawMainHeader h = decode_raw_main_header(&day.raw.bytes[recs[0].offset]);
  EXPECT_EQ(h.valid_since, static_cast<uint32_t>(midnight_seconds(2026, 150) + 3590));
  EXPECT_EQ(h.line_fr, c.inst.line_fr);
  EXPECT_EQ(h.centre_pix, c.inst.centre_pix);
  EXPECT_FLOAT_EQ(h.l0_1, static_cast<float>(c.inst.l1));

  // Later headers come after the blocks of earlier slices and before those of later ones.
  std::map<int16_t, int> kinds;
  uint32_t last_valid = 0;
  double last_block_line = 0;
  for (const auto& r : recs) {
    ++kinds[r.kind];
    if (r.kind == kKindMainHeader) {
      const RawMainHeader hp = decode_raw_main_header(&day.raw.bytes[r.offset]);
      EXPECT_GT(hp.valid_since, last_valid);
      last_valid = hp.valid_since;
      const double line = static_cast<double>(hp.valid_since % 86400) * c.inst.line_fr;
      EXPECT_GE(line, last_block_line - c.slice_lines * 2.0);
    } else if (r.kind == kKindLinesA) {
      last_block_line = get_f64(&day.raw.bytes[r.offset + 2 + 4]);  // first frame's y_count
    }
  }
  EXPECT_EQ(kinds[kKindMainHeader], 4);  // 3590, then 3600, 3610, 3620
  EXPECT_EQ(kinds[7], 6);                // status every 5 s of rain
  EXPECT_EQ(static_cast<uint64_t>(kinds[kKindLinesA]), day.stats.blocks[0]);
  EXPECT_EQ(static_cast<uint64_t>(kinds[kKindLinesB]), day.stats.blocks[1]);
}

TEST(SimulateDay, LinesRiseStrictlyPerCameraAndNoParticleIsSplitBetweenBlocks) {
  Day day(short_day(5));
  ASSERT_GT(day.log.blocks.size(), 100u);
  double last[2] = {-1, -1};
  std::set<int64_t> boundary[2];  // last line of a block whose next block starts on the next line
  for (const auto& b : day.log.blocks) {
    ASSERT_FALSE(b.lines.empty());
    ASSERT_LE(b.lines.size(), 2000u);
    if (b.lines.front().y_count == last[b.cam] + 1) boundary[b.cam].insert(static_cast<int64_t>(last[b.cam]));
    for (const LineRecord& l : b.lines) {
      EXPECT_GT(l.y_count, last[b.cam]);
      last[b.cam] = l.y_count;
      ASSERT_GE(l.n_runs, 1);
      ASSERT_LE(l.n_runs, kMaxRuns);
      for (int i = 0; i < l.n_runs; ++i) {
        EXPECT_LT(l.runs[i].start, l.runs[i].end);
        EXPECT_GE(l.runs[i].start, 0);
        EXPECT_LE(l.runs[i].end, 632);
        if (i > 0) {
          EXPECT_GT(l.runs[i].start, l.runs[i - 1].end);
        }
      }
    }
  }
  EXPECT_TRUE(boundary[0].empty());
  EXPECT_TRUE(boundary[1].empty());
}

TEST(SimulateDay, CameraAShowsEachSlicesBlockBeforeCameraB) {
  Day day(short_day(6));
  // A block of camera B never starts after the next camera A block has begun: the driver reads
  // one A block and then B until it catches up.
  double last_a_first = -1;
  for (const auto& b : day.log.blocks) {
    if (b.cam == 0) {
      last_a_first = b.lines.front().y_count;
    } else {
      EXPECT_LT(b.lines.front().y_count, last_a_first + 2 * 5500 + 1500) << "B block far ahead of A";
    }
  }
}

TEST(SimulateDay, TruthRowsDescribeTheRenderedLines) {
  Day day(short_day(7));
  std::map<int64_t, const LineRecord*> lines[2];
  for (const auto& b : day.log.blocks)
    for (const LineRecord& l : b.lines) lines[b.cam][static_cast<int64_t>(l.y_count)] = &l;
  uint64_t drops = 0, clutter = 0;
  uint64_t prev_id = 0;
  for (const TruthRow& r : day.truth.rows) {
    EXPECT_TRUE(r.id == 0 || r.id == prev_id + 1) << "rows in order of arrival";
    prev_id = r.id;
    (r.kind == ParticleKind::kDrop ? drops : clutter) += 1;
    if (r.kind == ParticleKind::kDrop) {
      EXPECT_GT(r.t_b, r.t_a);
      EXPECT_GT(r.first_line[1], r.first_line[0]);
    } else {
      EXPECT_TRUE((r.lines[0] > 0) != (r.lines[1] > 0)) << "clutter shows in one camera only";
    }
    for (int cam = 0; cam < 2; ++cam) {
      if (r.lines[cam] == 0) continue;
      EXPECT_EQ(r.lines[cam], r.last_line[cam] - r.first_line[cam] + 1);
      for (int64_t y = r.first_line[cam]; y <= r.last_line[cam]; ++y) {
        auto it = lines[cam].find(y);
        ASSERT_NE(it, lines[cam].end()) << "line " << y << " of particle " << r.id;
        if (r.merged) continue;
        // The unmerged particle's run lies inside its extent, alone.
        bool found = false;
        for (int i = 0; i < it->second->n_runs; ++i)
          found |= it->second->runs[i].start >= r.x_min[cam] && it->second->runs[i].end <= r.x_max[cam];
        EXPECT_TRUE(found) << "particle " << r.id;
      }
    }
  }
  EXPECT_EQ(drops, day.stats.drops);
  EXPECT_EQ(clutter, day.stats.clutter);
  EXPECT_GT(clutter, 20u);
}

TEST(SimulateDay, TheSameSeedGivesTheSameDayAndAnotherSeedAnother) {
  Day a(short_day(9)), b(short_day(9)), c(short_day(10));
  EXPECT_EQ(a.raw.bytes, b.raw.bytes);
  ASSERT_EQ(a.truth.rows.size(), b.truth.rows.size());
  for (size_t i = 0; i < a.truth.rows.size(); ++i) EXPECT_EQ(a.truth.rows[i].diam, b.truth.rows[i].diam);
  EXPECT_NE(a.raw.bytes, c.raw.bytes);
}

TEST(RainPhysics, FallSpeedAndShapeFollowThePublishedFits) {
  EXPECT_NEAR(fall_speed(1.0), 9.65 - 10.3 * std::exp(-0.6), 1e-12);
  EXPECT_NEAR(fall_speed(5.0), 9.14, 0.01);
  EXPECT_EQ(axis_ratio(0.3), 1.0);
  EXPECT_NEAR(axis_ratio(1.0), 0.9826, 0.0005);
  EXPECT_NEAR(axis_ratio(2.0), 0.9276, 0.0005);
  EXPECT_NEAR(axis_ratio(5.0), 0.7061, 0.0005);
  EXPECT_LT(axis_ratio(6.0), axis_ratio(4.0));
}

TEST(RainPhysics, GammaLawKeepsTheWaterContentOfTheExponentialLaw) {
  for (double rate : {2.0, 20.0}) {
    RainSpec e, g;
    e.rate_mm_h = g.rate_mm_h = rate;
    g.law = SizeLaw::kGamma;
    g.mu = 3;
    double we = 0, wg = 0;
    for (double d = 0.0005; d < 20; d += 0.001) {
      we += concentration(e, d) * d * d * d;
      wg += concentration(g, d) * d * d * d;
    }
    EXPECT_NEAR(wg / we, 1.0, 0.01) << rate;
  }
}

TEST(RainPhysics, SimulatedDropsDeliverTheRequestedRainRate) {
  // Exponential sizes (N0 = 8000 m^-3 mm^-1) with these fall speeds give a rain rate within about 20% of the
  // rate the distribution was set for.
  for (double rate : {3.0, 30.0}) {
    DayConfig c = short_day(21);
    c.rain.rate_mm_h = rate;
    c.clutter_rate = 0;
    Day day(c);
    double volume_mm3 = 0;
    for (const TruthRow& r : day.truth.rows) volume_mm3 += 3.14159265 / 6 * r.diam * r.diam * r.diam;
    const double area_mm2 = area_m2(c.inst) * 1e6;
    const double mm_per_h = volume_mm3 / area_mm2 / (c.rain_end - c.rain_start) * 3600;
    EXPECT_NEAR(mm_per_h / rate, 1.1, 0.2) << rate;
  }
}

TEST(SimulateDay, AMarginLetsDropsFallAroundTheFieldAtTheSameDensity) {
  DayConfig c = short_day(23);
  c.clutter_rate = 0;
  c.rain_end = 3660;
  Day plain(c);
  c.margin_px = 40;  // the field of 632 pixels widened to 712: 1.269 times the area
  Day wide(c);
  EXPECT_NEAR(fall_area_m2(c) / area_m2(c.inst), (712.0 * 712.0) / (632.0 * 632.0), 1e-12);
  const double half = c.inst.centre_pix;
  int inside = 0, outside = 0, outside_seen = 0, edge = 0;
  for (const TruthRow& r : wide.truth.rows) {
    EXPECT_LE(std::fabs(r.ca), half + 40);
    EXPECT_LE(std::fabs(r.cb), half + 40);
    if (std::fabs(r.ca) < half && std::fabs(r.cb) < half) {
      ++inside;
    } else {
      ++outside;
      // A camera whose line the centre lies beyond sees at most a cut shadow at the line's end
      // (the other camera may see the drop whole).
      const bool beyond_a = std::fabs(r.ca) >= half, beyond_b = std::fabs(r.cb) >= half;
      if ((beyond_a && r.lines[0] > 0) || (beyond_b && r.lines[1] > 0)) {
        ++outside_seen;
        EXPECT_TRUE(r.edge) << r.id;
      }
    }
    if (r.edge) ++edge;
  }
  // As many drops per area: the field gets as many as without the margin, to counting error.
  const double n = static_cast<double>(plain.truth.rows.size());
  EXPECT_NEAR(inside, n, 4 * std::sqrt(n));
  EXPECT_NEAR(outside, n * (712.0 * 712.0 / (632.0 * 632.0) - 1), 4 * std::sqrt(n));
  EXPECT_GT(outside_seen, 0);
  EXPECT_GT(edge, outside_seen);  // drops centred inside near an end are cut as well
}

}  // namespace
}  // namespace quorda::sim
