// State of the measurement subsystem: the correction factors and the text file "res".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/constants.h"

namespace quorda {

// Correction factors of corrfact.dat, index = size in 0.1 mm steps.
struct CorrTables {
  float corr_h_a[kCorrEntries] = {};
  float corr_h_b[kCorrEntries] = {};
  float corr_w_a[kCorrEntries] = {};
  float corr_w_b[kCorrEntries] = {};
};

struct EvalState {
  FILE* res = nullptr;              // the text file "res", open from the first evaluation on
  bool res_failed = false;          // "res" could not be created or written whole
  bool res_tried = false;           // creation was attempted (it is attempted once per run)
  std::unique_ptr<char[]> res_buf;  // lines of "res" formatted but not yet handed to the stream
  size_t res_used = 0;              // bytes of res_buf in use

  EvalState() = default;
  EvalState(const EvalState&) = delete;
  EvalState& operator=(const EvalState&) = delete;
  // A stream still open here gets its buffered lines and is closed.
  ~EvalState() {
    if (res == nullptr) return;
    if (res_used > 0) std::fwrite(res_buf.get(), 1, res_used, res);
    std::fclose(res);
  }
};

}  // namespace quorda
