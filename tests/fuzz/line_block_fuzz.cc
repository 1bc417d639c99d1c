// Fuzz harness of the line-block decoder: one input is one block payload (at most the 32767 bytes
// a raw record can hold). A decoded line never holds more runs than a line record has room for.
#include <algorithm>
#include <cstdlib>

#include "base/constants.h"
#include "format/raw_record.h"
#include "fuzz/fuzz_support.h"
#include "rawin/decode_line_block.h"

namespace quorda::fuzz {

int line_block(const uint8_t* data, size_t size) {
  static testing::FakePlatform platform;
  static const std::unique_ptr<RunContext> ctx = quiet_context(&platform, "");
  const auto len = static_cast<int32_t>(std::min<size_t>(size, kMaxPayload));
  int16_t n_lin = 0;
  if (decode_line_block(ctx->dec, ctx->diag, data, len, &n_lin)) {
    for (int i = 0; i < std::min<int>(n_lin, kLineBufLines); ++i) {
      const int16_t runs = ctx->dec.line_buf[i].n_runs;
      if (runs < 0 || runs > kMaxRuns) std::abort();
    }
  }
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(line_block)
