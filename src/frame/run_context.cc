// Creation of the run context.
#include "frame/run_context.h"

#include "match/pool.h"

namespace quorda {

std::unique_ptr<RunContext> make_run_context(Platform* platform) {
  auto ctx = std::make_unique<RunContext>();
  ctx->platform = platform;
  init_pool(ctx->pool);
  return ctx;
}

}  // namespace quorda
