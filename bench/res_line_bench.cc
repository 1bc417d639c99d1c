// Cost of one "res" line: the converter's formatter against snprintf with the same format, and
// against std::to_chars in fixed notation with the fields' precisions (digits only: no padding).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <vector>

#include "measure/res_line.h"

namespace quorda {
namespace {

struct LineValues {
  double v[kResValues];
};

// Values of the sizes the measures of drops take: diameters and widths of a few mm, a plane
// distance near 6 mm, velocities of a few m/s, heights and axis ratios near 1.
std::vector<LineValues> make_lines(int n) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> diam(0.2, 6.0), dist(5.8, 6.4), vel(0.5, 9.5), ratio(0.6, 1.2);
  std::vector<LineValues> lines(static_cast<size_t>(n));
  for (LineValues& l : lines) {
    l.v[0] = diam(rng);
    l.v[1] = dist(rng);
    for (int i = 2; i < 8; ++i) l.v[i] = vel(rng);
    for (int i = 8; i < 12; ++i) l.v[i] = diam(rng);
    for (int i = 12; i < 15; ++i) l.v[i] = ratio(rng);
  }
  return lines;
}

void BM_ResLineFormatter(benchmark::State& state) {
  const std::vector<LineValues> lines = make_lines(1024);
  char buf[kResLineMax];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(format_res_line(lines[i].v, buf));
    benchmark::ClobberMemory();
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResLineFormatter);

void BM_ResLineSnprintf(benchmark::State& state) {
  const std::vector<LineValues> lines = make_lines(1024);
  char buf[kResLineMax];
  size_t i = 0;
  for (auto _ : state) {
    const double* v = lines[i].v;
    benchmark::DoNotOptimize(std::snprintf(
        buf, sizeof buf,
        "%6.3f %8.5f %5.3lf %5.3lf %5.3lf %5.3lf %5.3lf %5.3lf %7.4lf %7.4lf %7.4lf %7.4lf %7.4lf %7.4lf "
        "%7.4lf\n",
        v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14]));
    benchmark::ClobberMemory();
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResLineSnprintf);

void BM_ResLineToChars(benchmark::State& state) {
  const std::vector<LineValues> lines = make_lines(1024);
  constexpr int kPrecision[kResValues] = {3, 5, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4};
  char buf[kResLineMax];
  size_t i = 0;
  for (auto _ : state) {
    char* p = buf;
    for (int k = 0; k < kResValues; ++k) {
      p = std::to_chars(p, buf + sizeof buf - 1, lines[i].v[k], std::chars_format::fixed, kPrecision[k]).ptr;
      *p++ = k + 1 < kResValues ? ' ' : '\n';
    }
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResLineToChars);

}  // namespace
}  // namespace quorda
