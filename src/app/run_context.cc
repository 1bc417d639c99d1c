// Creation of the run context.
#include "app/run_context.h"

#include "match/pool.h"
#include "measure/hyd_writer.h"

namespace quorda {

void WriterSink::take(const Piece& a, const Piece& b) {
  net_wr(ctx_, &a, &b);
}

std::unique_ptr<RunContext> make_run_context(Platform* platform, Files* files) {
  auto ctx = std::make_unique<RunContext>();
  ctx->platform = platform;
  ctx->files = files;
  init_pool(ctx->pool);
  return ctx;
}

}  // namespace quorda
