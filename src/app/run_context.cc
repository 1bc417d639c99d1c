// Creation of the run context.
#include "app/run_context.h"

#include "match/pool.h"

namespace quorda {

std::unique_ptr<RunContext> make_run_context(Platform& platform, Files* files) {
  auto ctx = std::make_unique<RunContext>(platform, files);
  init_pool(ctx->pool);
  return ctx;
}

}  // namespace quorda
