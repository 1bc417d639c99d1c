// Test support for the measurement routines: pieces built from run lists, and a run context set up
// as the 10+10-line pair of the evaluation tests (all correction factors 1.0, geometry from the settings).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "match/piece.h"
#include "measure/res_file.h"
#include "rawin/take_main_header.h"
#include "support/test_context.h"

namespace quorda::testing {

// A piece that owns its runs. first_line is the y_count of its first run; lines follow one apart.
struct OwnedPiece {
  Piece p;
  std::vector<Run> runs;

  OwnedPiece(const std::vector<Run>& r, double first_line) : runs(r) { build(first_line); }
  OwnedPiece(const OwnedPiece&) = delete;
  OwnedPiece& operator=(const OwnedPiece&) = delete;

  void build(double first_line) {
    p.runs = runs.data();
    p.line_no = static_cast<int16_t>(runs.size());
    p.x_min = runs.empty() ? 0 : runs[0].start;
    p.x_max = runs.empty() ? 0 : runs[0].end;
    for (const Run& r : runs) {
      if (r.start < p.x_min) p.x_min = r.start;
      if (r.end > p.x_max) p.x_max = r.end;
    }
    p.first_line = first_line;
    p.last_line = first_line + static_cast<double>(runs.size()) - 1;
  }
};

inline std::vector<Run> same_runs(int n, int16_t start, int16_t end) {
  return std::vector<Run>(static_cast<size_t>(n), Run{start, end});
}

inline void set_all_factors(RunContext& ctx, float f) {
  for (int k = 0; k < kCorrEntries; ++k) {
    ctx.corr.corr_h_a[k] = f;
    ctx.corr.corr_h_b[k] = f;
    ctx.corr.corr_w_a[k] = f;
    ctx.corr.corr_w_b[k] = f;
  }
}

// A header in force from second-of-day `second` with the given line frequency and centre pixel.
inline MainHeader header_at(uint32_t second, double line_fr, int16_t centre_pix) {
  MainHeader h;
  h.main_time = 1262304000u + second;  // a calendar day starts at a multiple of 86400
  h.line_fr = line_fr;
  h.centre_pix = centre_pix;
  h.xscale0_1 = 0.153f;
  h.xscale0_2 = 0.168f;
  h.l0_1 = 250.0f;
  h.l0_2 = 250.0f;
  return h;
}

// The pair of 10+10 lines: factors 1.0, OVERWRITE 1, HBL 6.0, HBR 6.2, HFR 6.4, scales 0.15, distances
// 250, one header at line 0 with centre pixel 256, line frequency 20000.
inline void setup_worked_example(RunContext& ctx) {
  set_all_factors(ctx, 1.0f);
  Settings& s = ctx.settings;
  s.overwrite = 1;
  s.hbl = 6.0f;
  s.hbr = 6.2f;
  s.hfr = 6.4f;
  s.xscal_a = 0.15f;
  s.xscal_b = 0.15f;
  s.dist_a = 250.0f;
  s.dist_b = 250.0f;
  ctx.hdr.line_fr = 20000.0;
  insert_header(ctx.rawin_part(), header_at(0, 20000.0, 256));
}

inline std::string read_res(TestRun& run) {
  flush_res(run.ctx->measure_part());
  return read_text(run.dir.file("res"));
}

}  // namespace quorda::testing
