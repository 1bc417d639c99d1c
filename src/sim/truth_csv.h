// The truth table of a simulated day: one CSV row per particle, written as the day is simulated
// and read back by the tests that compare the converter's output with it.
//
// Columns: id, kind (drop or clutter), t_a and t_b (seconds of the day at which the centre crosses
// each plane), first_a, last_a, first_b, last_b (first and last shadowed line per camera, -1 when
// the camera did not see it), lines_a, lines_b, x_min_a, x_max_a, x_min_b, x_max_b (pixel extent,
// x_max one past the last pixel), width_a, width_b (the piece width piece assignment computes),
// diam_mm, axis_ratio, speed_m_s, ca_px, cb_px (centre offsets), plane_mm, merged, edge, cut.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/rain_day.h"
#include "sim/sim_drop.h"

namespace quorda::sim {

struct TruthRow {
  uint64_t id = 0;
  ParticleKind kind = ParticleKind::kDrop;
  double t_a = 0, t_b = 0;
  int64_t first_line[2] = {-1, -1};
  int64_t last_line[2] = {-1, -1};
  int32_t lines[2] = {};
  int32_t x_min[2] = {};
  int32_t x_max[2] = {};
  int32_t width[2] = {};
  double diam = 0, ratio = 1, speed = 0, ca = 0, cb = 0, plane = 0;
  bool merged = false, edge = false, cut = false;
};

TruthRow truth_row(const SimDrop& d);

// Writes the rows to an open stream, the column names first.
class TruthCsvWriter : public TruthSink {
 public:
  explicit TruthCsvWriter(FILE* f);
  void particle(const SimDrop& d) override;

 private:
  FILE* f_;
};

// Reads a truth file. False (with *error set) when the file cannot be read or a row is malformed.
bool read_truth_csv(const std::string& path, std::vector<TruthRow>* rows, std::string* error);

}  // namespace quorda::sim
