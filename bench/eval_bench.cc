// Cost of measuring and packing one particle: measure_drop (with its "res" line) plus pack_particle,
// and measure_drop alone (the difference is the packing).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "format/particle_record.h"
#include "measure/measure_drop.h"
#include "measure/pack_particle.h"
#include "measure/res_file.h"
#include "null_platform.h"
#include "rawin/take_main_header.h"

namespace quorda {
namespace {

struct PairSet {
  std::vector<std::vector<Run>> runs;
  std::vector<Piece> a, b;
};

// Drop-like pairs: 5 to 60 lines, widths up to 40 pixels, camera B some 20 lines later.
PairSet make_pairs(int n) {
  PairSet s;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> lines(5, 60), width(4, 40), centre(60, 450);
  s.runs.reserve(static_cast<size_t>(2 * n));
  for (int i = 0; i < n; ++i) {
    const double t = 1000.0 + 100.0 * i;
    for (int cam = 0; cam < 2; ++cam) {
      const int l = lines(rng), w = width(rng), c = centre(rng);
      std::vector<Run> r(static_cast<size_t>(l));
      for (int j = 0; j < l; ++j) {
        const int half = std::max(1, w / 2 - std::abs(j - l / 2) * w / l);
        r[static_cast<size_t>(j)] = {static_cast<int16_t>(c - half), static_cast<int16_t>(c + half)};
      }
      s.runs.push_back(std::move(r));
      Piece p;
      p.runs = s.runs.back().data();
      p.line_no = static_cast<int16_t>(l);
      p.x_min = static_cast<int16_t>(c - w / 2);
      p.x_max = static_cast<int16_t>(c + w / 2);
      p.first_line = t + (cam == 0 ? 0.0 : 20.0);
      p.last_line = p.first_line + l - 1;
      (cam == 0 ? s.a : s.b).push_back(p);
    }
  }
  return s;
}

// A run context with a main header, plain correction tables and settings; "res" goes to
// /dev/null through the same buffer of lines the run uses when with_res, else there is none.
struct EvalSetup {
  NullPlatform platform;
  std::unique_ptr<RunContext> ctx;
  FILE* sink = nullptr;

  explicit EvalSetup(bool with_res) : ctx(make_run_context(platform, nullptr)) {
    ctx->home = "/dev/null/";  // not used: "res" is set up below
    for (int k = 0; k < kCorrEntries; ++k) {
      ctx->corr.corr_h_a[k] = ctx->corr.corr_h_b[k] = 0.98f;
      ctx->corr.corr_w_a[k] = ctx->corr.corr_w_b[k] = 1.01f;
    }
    ctx->settings.hbl = 6.0f;
    ctx->settings.hbr = 6.2f;
    ctx->settings.hfr = 6.4f;
    ctx->hdr.line_fr = 20000.0;
    MainHeader h;
    h.main_time = 1262304000u;
    h.line_fr = 20000.0;
    h.centre_pix = 256;
    h.xscale0_1 = 0.153f;
    h.xscale0_2 = 0.168f;
    h.l0_1 = h.l0_2 = 250.0f;
    insert_header(ctx->rawin_part(), h);
    sink = std::fopen("/dev/null", "w");
    ctx->diag.err = sink;
    ctx->eval.res_tried = true;
    if (with_res) attach_res(ctx->eval, std::fopen("/dev/null", "w"));
  }
  ~EvalSetup() {
    ctx.reset();
    std::fclose(sink);
  }
  EvalSetup(const EvalSetup&) = delete;
  EvalSetup& operator=(const EvalSetup&) = delete;
};

void BM_EvalAndTransform(benchmark::State& state) {
  EvalSetup setup(state.range(0) != 0);
  RunContext* ctx = setup.ctx.get();
  PairSet pairs = make_pairs(1024);
  uint16_t outline[kMaxOutlineWords];
  uint8_t head[kPixHeadSize];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pack_particle(ctx->measure_part(), pairs.a[i], pairs.b[i], 0, outline, head));
    benchmark::ClobberMemory();
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvalAndTransform)->ArgName("res")->Arg(1)->Arg(0);

void BM_MeasureDrop(benchmark::State& state) {
  EvalSetup setup(false);
  PairSet pairs = make_pairs(1024);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(measure_drop(setup.ctx->measure_part(), pairs.a[i], pairs.b[i]));
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MeasureDrop);

}  // namespace
}  // namespace quorda
