// Fuzz harness of hydinfo's readers: the stream walker, the consistency check, the CSV listing
// with and without outlines, the listing of minutes through pos_pix and the summary.
//
// Input: three files separated by kFileSeparator: the .hyd, .hd and .abh files of a set (empty
// when the input ends before them).
#include "format/hyd_walker.h"
#include "fuzz/fuzz_support.h"
#include "outset/check_output_set.h"
#include "outset/hyd_report.h"

namespace quorda::fuzz {

namespace {

constexpr int kMinutesListed = 6;

}  // namespace

int hydinfo(const uint8_t* data, size_t size) {
  const std::vector<InputFile> files = split_files(data, size, 3);
  const OutputSetBytes set{files[0].bytes, files[1].bytes, files[2].bytes};
  FILE* out = null_stream();
  const HydWalk walk = walk_hyd(set.hyd);
  report_check(walk, set, out);
  report_csv(set.hyd, walk, false, out, out);
  report_csv(set.hyd, walk, true, out, out);
  // The minutes whose entry begins a new range, a few of them: every minute would cost a thousand
  // listings per input.
  const std::vector<int32_t> pos_pix = read_pos_pix(set.hd);
  report_minute(set.hyd, set.hd, 0, true, out, out);
  int listed = 0;
  for (int minute = 1; minute < static_cast<int>(pos_pix.size()) && listed < kMinutesListed; ++minute) {
    const int32_t v = pos_pix[static_cast<size_t>(minute)];
    if (v == -1 || v == pos_pix[static_cast<size_t>(minute) - 1]) continue;
    report_minute(set.hyd, set.hd, minute, true, out, out);
    ++listed;
  }
  report_summary(set.hyd, walk, set, out);
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(hydinfo)
