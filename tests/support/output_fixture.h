// Test support for the output set, the writer and the matcher: an output set in a scratch folder,
// a main header in force, pieces made from plain numbers, and the checks every produced
// hydrometeor file must pass.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "match/piece.h"
#include "rawin/output_set.h"
#include "rawin/take_main_header.h"

namespace quorda::testing {

inline std::span<const uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Raw file V10082_1.ab in `dir`/raw/, output files in `dir`/hyd/.
inline void name_output_set(RunContext& ctx, const std::string& dir) {
  std::filesystem::create_directories(dir + "raw");
  std::filesystem::create_directories(dir + "hyd");
  ctx.settings.raw_path = dir + "raw/";
  ctx.settings.hyd_path = dir + "hyd/";
  ctx.raw.raw_file_path = dir + "raw/V10082_1.ab";
  ctx.raw.raw_day_at_open = 10082;
}

// What the evaluation of a pair needs besides a main header: geometry settings and correction
// factors of 1.0.
inline void prepare_measure(RunContext& ctx) {
  ctx.settings.overwrite = 1;
  ctx.settings.hbl = 6.0f;
  ctx.settings.hbr = 6.2f;
  ctx.settings.hfr = 6.4f;
  ctx.settings.xscal_a = ctx.settings.xscal_b = 0.15f;
  ctx.settings.dist_a = ctx.settings.dist_b = 250.0f;
  for (int i = 0; i < kCorrEntries; ++i) {
    ctx.corr.corr_h_a[i] = ctx.corr.corr_h_b[i] = ctx.corr.corr_w_a[i] = ctx.corr.corr_w_b[i] = 1.0f;
  }
}

// A raw main header with the given line frequency, in force from the calendar second valid_since.
inline RawMainHeader raw_header(double line_fr, uint32_t valid_since) {
  RawMainHeader h;
  h.line_fr = line_fr;
  h.centre_pix = 256;
  h.l0_1 = h.l0_2 = 250.0f;
  h.valid_since = valid_since;
  return h;
}

// Offers a raw main header to take_main_header, as the day driver does after a forced save.
inline void take_header(RunContext& ctx, const RawMainHeader& h) {
  uint8_t payload[kRawMainHeaderSize];
  encode_raw_main_header(h, payload);
  take_main_header(ctx.rawin_part(), payload, static_cast<int32_t>(kRawMainHeaderSize));
}

// Pieces owned by the test, outside the pool: every line holds the run {x_min, x_min + width}.
class PieceStore {
 public:
  const Piece* make(double first_line, int lines, int16_t x_min = 246, int16_t width = 1) {
    runs_.emplace_back(static_cast<size_t>(lines), Run{x_min, static_cast<int16_t>(x_min + width)});
    Piece p;
    p.x_min = x_min;
    p.x_max = static_cast<int16_t>(x_min + width);
    p.width = width;
    p.line_no = static_cast<int16_t>(lines);
    p.first_line = first_line;
    p.last_line = first_line + lines - 1;
    p.runs = runs_.back().data();
    pieces_.push_back(p);
    return &pieces_.back();
  }

 private:
  std::deque<std::vector<Run>> runs_;
  std::deque<Piece> pieces_;
};

// The particle records of a hydrometeor file, by t1, in stream order.
inline std::vector<double> particle_lines(const HydWalk& w) {
  std::vector<double> t;
  for (const HydEntry& e : w.records) {
    if (!e.header) t.push_back(e.t1);
  }
  return t;
}

// Checks a finished output set: the hydrometeor stream's framing and the header file's pos_pix.
// Returns the walk for further checks.
inline HydWalk expect_consistent_set(const std::string& hyd_path, const std::string& hd_path,
                                     double line_fr) {
  std::string hyd;
  std::string hd;
  {
    std::ifstream f(hyd_path, std::ios::binary);
    hyd.assign(std::istreambuf_iterator<char>(f), {});
  }
  {
    std::ifstream f(hd_path, std::ios::binary);
    hd.assign(std::istreambuf_iterator<char>(f), {});
  }
  HydWalk w = walk_hyd(bytes_of(hyd));
  EXPECT_TRUE(w.ok()) << w.error;
  std::vector<int32_t> pos_pix = read_pos_pix(bytes_of(hd));
  EXPECT_EQ(pos_pix.size(), static_cast<size_t>(kMinutes));
  EXPECT_EQ(check_pos_pix(w, pos_pix, line_fr), "");
  return w;
}

}  // namespace quorda::testing
