// Closing the output and input streams at the end of a run: index, hydrometeor, header and raw
// file, in this order, then the text file "res". A failed close is reported with its tag and the
// others are still closed.
#include "app/clean_up.h"

#include "app/run_context.h"
#include "measure/eval_dr.h"

namespace quorda {

namespace {

template <typename F>
void close_one(RunContext& ctx, F& f, const char* tag) {
  if (f.is_open() && !f.close()) report_tag(ctx.diag, tag);
}

}  // namespace

void clean_up(RunContext& ctx) {
  close_one(ctx, ctx.out.abh_stream, " clean_up01 ");
  close_one(ctx, ctx.out.pix_stream, " clean_up02 ");
  close_one(ctx, ctx.out.hd_stream, " clean_up03 ");
  close_one(ctx, ctx.raw.raw_file, " clean_up04 ");
  close_res(ctx);
}

}  // namespace quorda
