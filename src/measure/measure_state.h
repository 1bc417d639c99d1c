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
  bool res_failed = false;          // "res" could not be created or written whole
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
  int16_t oldlen = 0;       // length of the last record put into the hydrometeor stream
  double lastpix_line = 0;  // t1 of the last record put into pix_buf
  uint64_t lastpix_y = 0;   // lastpix_line truncated, as of the last commit
  // What an earlier run saved, as the recovery found it: the t1 of the last particle record kept
  // and how many kept records have that t1. Particles made again are dropped: those before
  // resume_t1 and the first resume_ties at it.
  bool resume_drop = false;
  double resume_t1 = 0;
  int32_t resume_ties = 0;
  bool hyd_unsynced = false;  // bytes were appended to the hydrometeor file since its last sync
  // The hydrometeor file as appended so far (the buffer not counted): the length of its last
  // record and the t1 of its last particle record. A commit writes these.
  int16_t file_oldlen = 0;
  double file_lastpix_line = 0;
  int64_t flush_time = 0;
  int16_t force_write = 0;
  int32_t pos_pix[kMinutes] = {};
  int16_t pix_minute = 0;
};

}  // namespace quorda
