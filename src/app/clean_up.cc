// Closing the output and input streams at the end of a run: index, hydrometeor, header and raw
// file, in this order, then the text file "res". A failed close is reported with its tag and the
// others are still closed; a failed close of an output file marks the run as failed.
#include "app/clean_up.h"

#include "app/run_context.h"
#include "measure/res_file.h"

namespace quorda {

namespace {

// True when the file was open and its close failed.
template <typename F>
bool close_failed(RunContext& ctx, F& f, const char* tag) {
  if (!f.is_open() || f.close()) return false;
  report_tag(ctx.diag, tag);
  return true;
}

// Tags of the failed closes: index, hydrometeor, header and raw file.
constexpr char kAbhCloseTag[] = " clean_up01 ";
constexpr char kHydCloseTag[] = " clean_up02 ";
constexpr char kHdCloseTag[] = " clean_up03 ";
constexpr char kRawCloseTag[] = " clean_up04 ";

}  // namespace

void clean_up(RunContext& ctx) {
  bool failed = close_failed(ctx, ctx.out.abh_stream, kAbhCloseTag);
  failed = close_failed(ctx, ctx.out.hyd_stream, kHydCloseTag) || failed;
  failed = close_failed(ctx, ctx.out.hd_stream, kHdCloseTag) || failed;
  if (failed) ctx.out.close_failed = true;
  close_failed(ctx, ctx.raw.raw_file, kRawCloseTag);
  close_res(ctx.measure_part());
}

}  // namespace quorda
