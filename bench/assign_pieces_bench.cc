// Cost of piece assignment per stored line: blocks of drop-like lines cut into pieces, the pieces
// then moved to the wait queue and freed as the matcher would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "app/run_context.h"
#include "match/assign_pieces.h"
#include "match/pool.h"
#include "null_platform.h"

namespace quorda {
namespace {

// Blocks of kLineBufLines stored lines, as a heavy day has them: drops of 4 to 40 lines whose run
// grows and shrinks, some 15 lines each, one to three at a time on a line, and a stray one-line
// run (clutter) now and then; lines without shadow are not stored, so a gap ends the drops.
std::vector<std::vector<LineRecord>> drop_blocks(int n_blocks, uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::vector<LineRecord>> blocks(static_cast<size_t>(n_blocks));
  double y = 1.0e6;
  for (auto& block : blocks) {
    while (static_cast<int>(block.size()) < kLineBufLines) {
      const int n_drops = uni(0, 9) < 8 ? 1 : uni(2, 3);
      int height[3], centre[3], width[3];
      int lines = 0;
      for (int d = 0; d < n_drops; ++d) {
        height[d] = uni(4, 40);
        centre[d] = 60 + 300 * d + uni(0, 250);
        width[d] = uni(2, 30);
        lines = std::max(lines, height[d]);
      }
      for (int k = 0; k < lines && static_cast<int>(block.size()) < kLineBufLines; ++k) {
        LineRecord l;
        l.y_count = y + k;
        for (int d = 0; d < n_drops; ++d) {
          if (k >= height[d]) continue;
          const double phase = (k + 0.5) / height[d];
          const int w = static_cast<int>(width[d] * 4 * phase * (1 - phase)) / 2 + 1;
          l.runs[l.n_runs++] = {static_cast<int16_t>(centre[d] - w), static_cast<int16_t>(centre[d] + w)};
        }
        if (uni(0, 30) == 0 && l.n_runs < kMaxRuns) {
          const int at = 980 + uni(0, 30);
          l.runs[l.n_runs++] = {static_cast<int16_t>(at), static_cast<int16_t>(at + 1)};
        }
        block.push_back(l);
      }
      y += lines + uni(1, 400);
    }
  }
  return blocks;
}

void BM_AssignPieces(benchmark::State& state) {
  static const auto blocks = drop_blocks(64, 13);
  NullPlatform platform;
  auto ctx = make_run_context(platform, nullptr);
  FILE* sink = std::fopen("/dev/null", "w");
  ctx->diag.err = sink;
  ctx->diag.out = sink;
  label_queues(ctx->queues_a, ctx->queues_b);
  int64_t lines = 0;
  for (auto _ : state) {
    for (const auto& b : blocks) {
      benchmark::DoNotOptimize(assign_pieces(
          ctx->match_part(), LineBlock{static_cast<int16_t>(b.size()), b.data()}, ctx->queues_a));
      chain_queues(ctx->pool, ctx->diag, ctx->queues_a);
      free_wait_queue(ctx->pool, ctx->diag, ctx->queues_a);
      lines += static_cast<int64_t>(b.size());
    }
  }
  state.SetItemsProcessed(lines);
  ctx.reset();
  std::fclose(sink);
}
BENCHMARK(BM_AssignPieces)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorda
