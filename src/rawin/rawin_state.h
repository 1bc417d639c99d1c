// State of the raw-data input subsystem: the raw file, the decoder and its line buffer, the main
// headers, the per-minute raw-file index, the output file set with its record buffer, and the
// reading positions of the day driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/constants.h"
#include "format/line_record.h"
#include "format/main_header.h"
#include "platform/out_file.h"
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
// writer's thread reads line_fr for every pair while the decoder writes its state just before it.
struct alignas(64) HeaderBook {
  double line_fr = 0;  // current line frequency
  uint32_t maint[kMaxMainHeaders] = {};
  int16_t maincnt = 0;
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

struct OutputSet {
  std::string abh_nam, pix_nam, hd_nam;
  std::string lock_nam;        // the set's lock file, beside the index file
  std::unique_ptr<File> lock;  // holds the set's lock for the whole run
  int32_t pix_day = 0;
  int32_t pix_end = 0;  // length of the hydrometeor file
  OutFile pix_stream, hd_stream, abh_stream;
  bool close_failed = false;  // closing one of the three files failed at the end of the run
};

// Positions of the day driver's reading in the raw file and its run state. They start a cache
// line of their own: the day driver moves them block by block while the writer's thread reads the
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

// The hydrometeor stream's framing, shared by the main header records (written by the raw input)
// and the particle records (written by the hydrometeor writer, which keeps its own buffer), and
// the resume point restored by open_output_set.
struct Writer {
  int16_t last_record_len = 0;  // length of the last record put into the hydrometeor stream
  uint64_t last_saved_line =
      0;  // t1 of the last particle record in the file, truncated, as of the last commit
  // What an earlier run saved, as the recovery found it: the t1 of the last particle record kept
  // and how many kept records have that t1. Particles made again are dropped: those before
  // resume_t1 and the first resume_ties at it.
  bool resume_drop = false;
  double resume_t1 = 0;
  int32_t resume_ties = 0;
  bool hyd_unsynced = false;  // bytes were appended to the hydrometeor file since its last sync
  // The length of the last record of the hydrometeor file as appended so far (the writer's buffer
  // not counted). A commit writes it.
  int16_t file_last_record_len = 0;
  int16_t force_write = 0;  // a main header was written: the writer commits at its next pair or save
  int32_t pos_pix[kMinutes] = {};
  int16_t pix_minute = 0;  // the last minute entered in pos_pix
};

}  // namespace quorda
