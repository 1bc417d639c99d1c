// The reading side on the blocks of simulated heavy rain (45 mm/h, gamma sizes, clutter in both
// cameras, as `rainsim --preset heavy` makes them, ten minutes of it): the line decoder alone, and
// the decoder with piece assignment and the minute index, per stored line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <span>
#include <vector>

#include "app/run_context.h"
#include "match/assign_pieces.h"
#include "match/pool.h"
#include "null_platform.h"
#include "rawin/decode_line_block.h"
#include "rawin/minute_index.h"
#include "sim/line_encoder.h"
#include "sim/rain_day.h"

namespace quorda {
namespace {

struct Block {
  Camera camera;
  std::vector<uint8_t> payload;
};

struct HeavyRain {
  std::vector<Block> blocks;
  int64_t lines = 0;
  int64_t bytes = 0;
};

class Collector : public sim::BlockObserver, public sim::ByteSink, public sim::TruthSink {
 public:
  explicit Collector(HeavyRain& out) : out_(out) {}
  void block(int cam, std::span<const LineRecord> lines) override {
    // The simulator encodes each block in the same way.
    for (auto& p : encode_line_blocks(lines)) {
      out_.bytes += static_cast<int64_t>(p.size());
      out_.blocks.push_back({cam == 0 ? Camera::kA : Camera::kB, std::move(p)});
    }
    out_.lines += static_cast<int64_t>(lines.size());
  }
  void write(const uint8_t*, size_t) override {}
  void particle(const sim::SimDrop&) override {}

 private:
  HeavyRain& out_;
};

const HeavyRain& heavy_rain() {
  static const HeavyRain rain = [] {
    HeavyRain r;
    sim::DayConfig cfg;
    cfg.rain_start = 6 * 3600;
    cfg.rain_end = cfg.rain_start + 600;
    cfg.rain.rate_mm_h = 45;
    cfg.rain.law = sim::SizeLaw::kGamma;
    cfg.rain.mu = 2;
    cfg.clutter_rate = 2;
    cfg.clutter_cameras = 3;
    cfg.seed = 1;
    Collector c(r);
    sim::simulate_day(cfg, c, c, &c);
    return r;
  }();
  return rain;
}

struct Quiet {
  Quiet() {
    ctx->diag.err = sink;
    ctx->diag.out = sink;
    label_queues(ctx->queues_a, ctx->queues_b);
    ctx->hdr.line_fr = sim::DayConfig{}.inst.line_fr;
  }
  ~Quiet() {
    ctx.reset();
    std::fclose(sink);
  }
  NullPlatform platform;
  std::unique_ptr<RunContext> ctx = make_run_context(platform, nullptr);
  FILE* sink = std::fopen("/dev/null", "w");
};

void count(benchmark::State& state, const HeavyRain& rain) {
  state.SetItemsProcessed(state.iterations() * rain.lines);
  state.SetBytesProcessed(state.iterations() * rain.bytes);
  state.counters["ns_per_line"] =
      benchmark::Counter(static_cast<double>(state.iterations() * rain.lines),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_line"] = static_cast<double>(rain.bytes) / static_cast<double>(rain.lines);
}

void BM_DecodeHeavyRain(benchmark::State& state) {
  const HeavyRain& rain = heavy_rain();
  Quiet q;
  for (auto _ : state) {
    for (const Block& b : rain.blocks) {
      int16_t n = 0;
      if (!decode_line_block(q.ctx->dec, q.ctx->diag, b.payload.data(),
                             static_cast<int32_t>(b.payload.size()), &n))
        state.SkipWithError("block rejected");
    }
    benchmark::DoNotOptimize(q.ctx->dec.line_buf[0]);
  }
  count(state, rain);
}
BENCHMARK(BM_DecodeHeavyRain)->Unit(benchmark::kMillisecond);

// As the day driver takes a line block: decoded, cut into pieces, its minutes entered. The pieces
// then go to the wait queue and are freed, as matching would. With rising:0 the minute index is
// not told that the decoder found the lines rising, and checks every line.
void BM_ReadingSideHeavyRain(benchmark::State& state) {
  const HeavyRain& rain = heavy_rain();
  Quiet q;
  RunContext& ctx = *q.ctx;
  const bool tell_rising = state.range(0) != 0;
  for (auto _ : state) {
    ctx.minutes.highest_line_a = 0;
    ctx.minutes.highest_line_b = 0;
    for (const Block& b : rain.blocks) {
      int16_t n = 0;
      if (!decode_line_block(ctx.dec, ctx.diag, b.payload.data(), static_cast<int32_t>(b.payload.size()), &n))
        state.SkipWithError("block rejected");
      const LineBlock block{n, ctx.dec.line_buf, tell_rising && ctx.dec.lines_rise};
      CamQueues& queues = b.camera == Camera::kA ? ctx.queues_a : ctx.queues_b;
      benchmark::DoNotOptimize(assign_pieces(ctx.match_part(), block, queues));
      chain_queues(ctx.pool, ctx.diag, queues);
      mark_minute(ctx.rawin_part(), b.camera, block);
      free_wait_queue(ctx.pool, ctx.diag, queues);
    }
  }
  count(state, rain);
}
BENCHMARK(BM_ReadingSideHeavyRain)->ArgName("rising")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorda
