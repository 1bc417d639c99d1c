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

}  // namespace

void clean_up(RunContext& ctx) {
  bool failed = close_failed(ctx, ctx.out.abh_stream, " clean_up01 ");
  failed = close_failed(ctx, ctx.out.pix_stream, " clean_up02 ") || failed;
  failed = close_failed(ctx, ctx.out.hd_stream, " clean_up03 ") || failed;
  if (failed) ctx.out.close_failed = true;
  close_failed(ctx, ctx.raw.raw_file, " clean_up04 ");
  close_res(ctx);
}

}  // namespace quorda
