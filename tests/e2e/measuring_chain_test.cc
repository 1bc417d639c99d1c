// The converter's measuring chain on a simulated day, without the matching: the decoder and piece
// assignment cut the simulated raw file into pieces, the pieces of each isolated drop are paired
// by the truth table, and the drop evaluation and pair transform measure them. What comes out must
// be the simulated drops' size and speed.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "e2e/truth_compare.h"
#include "format/particle_record.h"
#include "format/raw_record.h"
#include "match/assign_pieces.h"
#include "match/pool.h"
#include "measure/pack_particle.h"
#include "rawin/decode_line_block.h"
#include "rawin/take_main_header.h"
#include "sim/rain_day.h"
#include "sim/sim_support.h"
#include "support/test_context.h"

namespace quorda::e2e {
namespace {

struct CutPiece {
  Piece p;
  std::vector<Run> runs;
};

using PieceKey = std::pair<int64_t, int>;  // first line, x_min

void setup_instrument(RunContext& ctx, const sim::DayConfig& cfg) {
  Settings& s = ctx.settings;
  s.overwrite = 1;
  s.hbl = static_cast<float>(cfg.inst.hbl);
  s.hbr = static_cast<float>(cfg.inst.hbr);
  s.hfr = static_cast<float>(cfg.inst.hfr);
  s.xscal_a = static_cast<float>(cfg.inst.xs1);
  s.xscal_b = static_cast<float>(cfg.inst.xs2);
  s.dist_a = static_cast<float>(cfg.inst.l1);
  s.dist_b = static_cast<float>(cfg.inst.l2);
  for (int k = 0; k < kCorrEntries; ++k)
    ctx.corr.corr_h_a[k] = ctx.corr.corr_h_b[k] = ctx.corr.corr_w_a[k] = ctx.corr.corr_w_b[k] = 1.0f;
  const RawMainHeader h = sim::day_header(cfg, cfg.header_second);
  MainHeader rec;
  rec.main_time = h.valid_since;
  rec.line_fr = h.line_fr;
  rec.centre_pix = h.centre_pix;
  rec.xscale0_1 = h.xscale0_1;
  rec.xscale0_2 = h.xscale0_2;
  rec.l0_1 = h.l0_1;
  rec.l0_2 = h.l0_2;
  ctx.hdr.line_fr = h.line_fr;
  insert_header(ctx.rawin_part(), rec);
}

// All pieces of both cameras, by first line and x_min.
void cut_pieces(RunContext& ctx, const std::vector<uint8_t>& raw,
                std::map<PieceKey, std::unique_ptr<CutPiece>> cut[2]) {
  label_queues(ctx.queues_a, ctx.queues_b);
  for (const auto& rec : sim::testing::raw_records(raw)) {
    if (rec.kind != kKindLinesA && rec.kind != kKindLinesB) continue;
    const int cam = rec.kind == kKindLinesA ? 0 : 1;
    CamQueues& q = cam == 0 ? ctx.queues_a : ctx.queues_b;
    int16_t n = 0;
    ASSERT_EQ(decode_line_block(ctx.dec, ctx.diag, &raw[rec.offset], rec.length, &n), 1);
    assign_pieces(ctx.match_part(), LineBlock{n, ctx.dec.line_buf}, q);
    chain_queues(ctx.pool, ctx.diag, q);
    for (Piece* p = q.wait_tail; p != nullptr; p = p->prev) {
      auto c = std::make_unique<CutPiece>();
      c->p = *p;
      c->runs.assign(p->runs, p->runs + p->line_no);
      c->p.runs = c->runs.data();
      c->p.next = c->p.prev = nullptr;
      cut[cam][{static_cast<int64_t>(p->first_line), p->x_min}] = std::move(c);
    }
    free_wait_queue(ctx.pool, ctx.diag, q);
  }
}

TEST(MeasuringChain, MeasuresTheIsolatedDropsOfASimulatedDayAtTheirSizeAndSpeed) {
  sim::DayConfig cfg = sim::testing::short_day(51);
  cfg.rain_end = cfg.rain_start + 120;
  cfg.rain.rate_mm_h = 6;
  sim::testing::MemorySink raw;
  sim::testing::TruthRows truth;
  sim::simulate_day(cfg, raw, truth);

  quorda::testing::TestRun run;
  RunContext& ctx = *run.ctx;
  setup_instrument(ctx, cfg);
  std::map<PieceKey, std::unique_ptr<CutPiece>> cut[2];
  cut_pieces(ctx, raw.bytes, cut);

  std::vector<Particle> parts;
  size_t expected = 0, paired = 0;
  for (size_t i : expected_drops(truth.rows, INT64_MAX)) {
    const TruthRow& r = truth.rows[i];
    ++expected;
    const auto a = cut[0].find({r.first_line[0], r.x_min[0]});
    const auto b = cut[1].find({r.first_line[1], r.x_min[1]});
    if (a == cut[0].end() || b == cut[1].end()) continue;
    ++paired;
    EXPECT_EQ(a->second->p.line_no, r.lines[0]);
    EXPECT_EQ(a->second->p.width, r.width[0]);
    EXPECT_EQ(b->second->p.x_max, r.x_max[1]);
    uint16_t outline[kMaxOutlineWords];
    uint8_t head[kPixHeadSize];
    ASSERT_EQ(pack_particle(ctx.measure_part(), a->second->p, b->second->p, 0, outline, head), true);
    Particle q;
    q.t1 = get_f64(head + pixhead::kT1);
    q.x_min_a = get_i16(head + pixhead::kXMinA);
    q.diam = get_i16(head + pixhead::kEqDiam) / 100.0;
    q.speed = get_i16(head + pixhead::kVel) / 10000.0 * cfg.inst.line_fr / 1000.0;
    parts.push_back(q);
  }
  ASSERT_GT(expected, 500u);
  // Every isolated drop is cut into exactly one piece per camera.
  EXPECT_EQ(paired, expected);

  const Comparison c = compare(truth.rows, parts, INT64_MAX);
  EXPECT_EQ(c.expected, expected);
  EXPECT_EQ(c.found, paired);
  EXPECT_EQ(c.unexplained, 0u);
  const double diam_err = median(c.diam_err), speed_err = median(c.speed_err);
  EXPECT_LE(diam_err, 0.02);
  EXPECT_LE(speed_err, 0.01);
  expect_terminal_speeds(parts, "measuring chain");
  std::printf("measuring chain: %zu isolated drops, median error diameter %.2f%%, speed %.2f%%\n", expected,
              100 * diam_err, 100 * speed_err);
}

}  // namespace
}  // namespace quorda::e2e
