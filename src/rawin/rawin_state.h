// State of the raw-data input subsystem: the raw file, the decoder and its line buffer, the main
// headers, the per-minute raw-file index and the reading positions of the day driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/constants.h"
#include "format/line_record.h"
#include "format/main_header.h"
#include "rawin/raw_file.h"

namespace quorda {

struct RawInput {
  std::string raw_file_path;  // path of the opened raw file
  RawFile raw_file;
  int32_t raw_day = 0;
  int32_t raw_day_at_open = 0;
  bool size_clamp_reported = false;  // the 2 GiB limit message was written
};

struct Decoder {
  LineRecord line_buf[kLineBufLines];
  // The number of each decoded line exceeds that of the line before it (set by a decoding that
  // found the lines usable; when false they may still rise).
  bool lines_rise = false;
  // The frame layout's word-fetch offset (head included) after the end code of the last frame
  // that ended soundly: that frame's length or less.
  int32_t end_offset = 0;
};

struct HeaderNode {
  MainHeader rec;
  double line = 0;  // (main_time % 86400) * line_fr of the record
  HeaderNode* next = nullptr;
  HeaderNode* prev = nullptr;
};

// Main headers of the run. Nodes come from a fixed table so their addresses stay stable; a run
// never lists more than kMaxMainHeaders of them. The book starts a cache line of its own: the
// measuring thread reads line_fr for every pair while the decoder writes its state just before it.
struct alignas(64) HeaderBook {
  double line_fr = 0;  // current line frequency
  uint32_t main_times[kMaxMainHeaders] = {};
  int16_t main_count = 0;
  HeaderNode nodes[kMaxMainHeaders];
  int n_nodes = 0;
  HeaderNode* head = nullptr;
  HeaderNode* tail = nullptr;
};

inline constexpr int32_t kNoHeldBlock = -1;

// Per camera: for each minute of the day, the raw-file position of the block in which the camera
// first reached it (0 = none yet); the last minute entered; the line number of the last line
// accepted, which the next must exceed.
struct MinuteIndex {
  int32_t minute_pos_a[kMinutes] = {};
  int32_t minute_pos_b[kMinutes] = {};
  int16_t last_minute_a = -1;
  int16_t last_minute_b = -1;
  double highest_line_a = 0;
  double highest_line_b = 0;
  // A block whose line numbers fell, held back until the camera's next block tells a damaged
  // block (the next one rises above highest_line) from line numbers gone back for good: the raw-file
  // position of its record, or kNoHeldBlock.
  int32_t held_block_a = kNoHeldBlock;
  int32_t held_block_b = kNoHeldBlock;
};

// Positions of the day driver's reading in the raw file and its run state. They start a cache
// line of their own: the day driver moves them block by block while the measuring thread reads the
// settings just before them for every pair.
struct alignas(64) DriverState {
  int32_t pos_a = 0, pos_b = 0;       // where the next block head is read by each cursor
  int32_t prev_a = 0, prev_b = 0;     // block head read last by each cursor
  double last_a = 0, last_b = 0;      // y_count of the last line of the last block of each camera
  int32_t rawend = 0;                 // length of the raw file as last measured
  bool eof_a = false, eof_b = false;  // each cursor has reached the end of the data
  bool first_pass = true;
  int64_t last_write_time = 0;
  int32_t total = 0;  // matched pairs
  RawCursor cursor_a, cursor_b;
};

}  // namespace quorda
