// State of the raw-data input subsystem: the raw file, the decoder and its line buffer, the main
// headers, the per-minute raw-file index and the output file set.
#pragma once

#include <cstdint>
#include <string>

#include "common/constants.h"
#include "common/line_record.h"
#include "common/main_header.h"
#include "common/out_file.h"
#include "rawin/bit_reader.h"
#include "rawin/raw_file.h"

namespace quorda {

struct RawInput {
  std::string mp_nam;  // path of the opened raw file
  RawFile raw_file;
  int32_t raw_day = 0;
  int32_t raw_day_at_open = 0;
  bool size_clamp_reported = false;  // the 2 GiB limit message was written
};

// Largest frame of a line block, head included.
inline constexpr int kFrameBufSize = 16383;

struct Decoder {
  LineRecord line_buf[kLineBufLines];
  LineRecord saved_line;  // last line coded with runs in the current block
  uint8_t frame_buf[kFrameBufSize + 1];
  BitReader reader;  // as the last frame left it
};

struct HeaderNode {
  MainHeader rec;
  double line = 0;  // (main_time % 86400) * line_fr of the record
  HeaderNode* next = nullptr;
  HeaderNode* prev = nullptr;
};

// Main headers of the run. Nodes come from a fixed table so their addresses stay stable; a run
// never lists more than kMaxMainHeaders of them.
struct HeaderBook {
  double line_fr = 0;  // current line frequency
  uint32_t maint[kMaxMainHeaders] = {};
  int16_t maincnt = 0;
  HeaderNode nodes[kMaxMainHeaders];
  int n_nodes = 0;
  HeaderNode* head = nullptr;
  HeaderNode* tail = nullptr;
};

struct MinuteIndex {
  int32_t posa_bf[kMinutes] = {};
  int32_t posb_bf[kMinutes] = {};
  int16_t minut_a = -1;
  int16_t minut_b = -1;
  double old_a = 0;
  double old_b = 0;
};

struct OutputSet {
  std::string abh_nam, pix_nam, hd_nam;
  int32_t pix_day = 0;
  int32_t pix_end = 0;  // length of the hydrometeor file
  OutFile pix_stream, hd_stream, abh_stream;
  bool close_failed = false;  // closing one of the three files failed at the end of the run
};

}  // namespace quorda
