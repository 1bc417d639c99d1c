// The simulated raw file decodes back, block by block through the converter's decoder, to exactly
// the lines the simulator rendered.
#include <gtest/gtest.h>

#include <algorithm>

#include "format/raw_record.h"
#include "rawin/decode_line_block.h"
#include "sim/rain_day.h"
#include "sim/sim_support.h"
#include "support/test_context.h"

namespace quorda::sim {
namespace {

// Returns the most runs a line had.
int expect_decodes_to_rendered_lines(const DayConfig& cfg) {
  int most_runs = 0;
  testing::MemorySink raw;
  testing::TruthRows truth;
  testing::BlockLog log;
  simulate_day(cfg, raw, truth, &log);
  quorda::testing::TestRun run;
  size_t next_block = 0;
  size_t lines = 0;
  for (const auto& rec : testing::raw_records(raw.bytes)) {
    if (rec.kind != kKindLinesA && rec.kind != kKindLinesB) continue;
    EXPECT_LT(next_block, log.blocks.size()) << "more line blocks in the file than rendered";
    const auto& rendered = log.blocks[next_block++];
    if (next_block > log.blocks.size()) break;
    EXPECT_EQ(rendered.cam, rec.kind == kKindLinesA ? 0 : 1);
    int16_t n = 0;
    EXPECT_EQ(decode_line_block(run.ctx->dec, run.ctx->diag, &raw.bytes[rec.offset], rec.length, &n), 1)
        << run.err();
    EXPECT_EQ(static_cast<size_t>(n), rendered.lines.size());
    if (static_cast<size_t>(n) != rendered.lines.size()) break;
    // Whole line numbers in frames that follow each other: the decoder knows they rise.
    EXPECT_TRUE(run.ctx->dec.lines_rise);
    for (int i = 0; i < n; ++i) {
      const LineRecord& got = run.ctx->dec.line_buf[i];
      const LineRecord& want = rendered.lines[static_cast<size_t>(i)];
      most_runs = std::max<int>(most_runs, want.n_runs);
      EXPECT_EQ(got.y_count, want.y_count);
      EXPECT_EQ(got.n_runs, want.n_runs) << "line " << want.y_count;
      for (int k = 0; k < want.n_runs; ++k) {
        EXPECT_EQ(got.runs[k].start, want.runs[k].start) << "line " << want.y_count;
        EXPECT_EQ(got.runs[k].end, want.runs[k].end) << "line " << want.y_count;
      }
    }
    lines += rendered.lines.size();
  }
  EXPECT_EQ(next_block, log.blocks.size());
  EXPECT_GT(lines, 1000u);
  EXPECT_EQ(run.err(), "");
  return most_runs;
}

TEST(SimulatedRawFile, DecodesToTheRenderedLines) {
  EXPECT_GE(expect_decodes_to_rendered_lines(testing::short_day(31)), 2);
}

TEST(SimulatedRawFile, DecodesToTheRenderedLinesInHeavyRainWithManyRunsALine) {
  DayConfig c = testing::short_day(32);
  c.rain_end = c.rain_start + 0.5;
  c.rain.rate_mm_h = 400;
  c.clutter_rate = 60000;  // several particles in most lines, some lines hold six runs
  EXPECT_EQ(expect_decodes_to_rendered_lines(c), kMaxRuns);
}

}  // namespace
}  // namespace quorda::sim
