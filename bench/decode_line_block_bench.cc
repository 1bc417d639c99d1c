// Throughput of the line-block decoder over a large stream of encoded blocks, in payload bytes
// per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "app/run_context.h"
#include "null_platform.h"
#include "rawin/decode_line_block.h"
#include "sim/line_encoder.h"

namespace quorda {
namespace {

// Lines shaped like falling particles: each shadows a run of 4 to 80 consecutive lines, its run
// growing and shrinking smoothly (equal neighbours become repetitions); now and then a second
// particle shares the lines; quiet gaps between them start new frames.
std::vector<LineRecord> particle_lines(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<LineRecord> lines;
  lines.reserve(static_cast<size_t>(n));
  double y = 1.0e6;
  while (static_cast<int>(lines.size()) < n) {
    int height = 4 + static_cast<int>(rng() % 77);
    int centre = 40 + static_cast<int>(rng() % 940);
    int width = 2 + static_cast<int>(rng() % 30);
    bool twin = rng() % 6 == 0;
    int twin_at = centre + width + 5 + static_cast<int>(rng() % 20);
    for (int k = 0; k < height && static_cast<int>(lines.size()) < n; ++k) {
      double phase = static_cast<double>(k) / height;
      int w = static_cast<int>(width * 4 * phase * (1 - phase)) / 2 * 2 + 1;
      LineRecord l;
      l.y_count = y++;
      l.n_runs = 1;
      l.runs[0] = {static_cast<int16_t>(centre - w / 2), static_cast<int16_t>(centre + w / 2)};
      if (twin && twin_at + w < 1023) {
        l.n_runs = 2;
        l.runs[1] = {static_cast<int16_t>(twin_at), static_cast<int16_t>(twin_at + w)};
      }
      lines.push_back(l);
    }
    y += 1 + rng() % 2000;
  }
  return lines;
}

// Consecutive lines of six runs each, none equal to the one before: the densest coding.
std::vector<LineRecord> dense_lines(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<LineRecord> lines(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    LineRecord& l = lines[static_cast<size_t>(k)];
    l.y_count = k;
    l.n_runs = 6;
    int at = static_cast<int>(rng() % 100);
    for (int j = 0; j < 6; ++j) {
      int len = 1 + static_cast<int>(rng() % 100);
      l.runs[j] = {static_cast<int16_t>(at), static_cast<int16_t>(at + len)};
      at += len + 1 + static_cast<int>(rng() % 50);
    }
  }
  return lines;
}

void run_decoder(benchmark::State& state, const std::vector<LineRecord>& lines) {
  const auto blocks = encode_line_blocks(lines);
  int64_t bytes = 0;
  for (const auto& b : blocks) bytes += static_cast<int64_t>(b.size());
  NullPlatform platform;
  auto ctx = make_run_context(platform, nullptr);
  FILE* sink = std::fopen("/dev/null", "w");
  ctx->diag.err = sink;
  ctx->diag.out = sink;
  int64_t decoded = 0;
  for (auto _ : state) {
    for (const auto& b : blocks) {
      int16_t n = 0;
      if (!decode_line_block(ctx->dec, ctx->diag, b.data(), static_cast<int32_t>(b.size()), &n))
        state.SkipWithError("block rejected");
      decoded += n;
    }
    benchmark::DoNotOptimize(ctx->dec.line_buf[0]);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(decoded);
  state.counters["bytes_per_line"] = static_cast<double>(bytes) / static_cast<double>(lines.size());
  std::fclose(sink);
}

void BM_DecodeLineBlockParticles(benchmark::State& state) {
  static const std::vector<LineRecord> lines = particle_lines(2000000, 11);
  run_decoder(state, lines);
}
BENCHMARK(BM_DecodeLineBlockParticles)->Unit(benchmark::kMillisecond);

void BM_DecodeLineBlockDenseSixRuns(benchmark::State& state) {
  static const std::vector<LineRecord> lines = dense_lines(1000000, 12);
  run_decoder(state, lines);
}
BENCHMARK(BM_DecodeLineBlockDenseSixRuns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorda
