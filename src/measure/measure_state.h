// State of the measurement and output subsystem: the text file "res" and the hydrometeor writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/constants.h"

namespace quorda {

struct EvalState {
  FILE* res = nullptr;              // the text file "res", open from the first evaluation on
  bool res_tried = false;           // creation was attempted (it is attempted once per run)
  std::unique_ptr<char[]> res_buf;  // stream buffer of "res"

  EvalState() = default;
  EvalState(const EvalState&) = delete;
  EvalState& operator=(const EvalState&) = delete;
  // A stream still open here is closed while its buffer is alive.
  ~EvalState() {
    if (res != nullptr) std::fclose(res);
  }
};

struct Writer {
  uint8_t pix_buf[kPixBufSize];
  int32_t pix_indx = 0;
  int16_t oldlen = 0;             // length of the last record put into the hydrometeor stream
  double lastpix_line = 0;        // t1 of the last record put into pix_buf
  uint64_t lastpix_y = 0;         // lastpix_line truncated, as of the last save
  uint64_t resume_lastpix_y = 0;  // lastpix_y as restored at the start of the run (drop test)
  int64_t flush_time = 0;
  int16_t force_write = 0;
  int32_t pos_pix[kMinutes] = {};
  int16_t pix_minute = 0;
};

}  // namespace quorda
