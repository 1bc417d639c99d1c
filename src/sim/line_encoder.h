// The encoder: camera lines into line-block payloads, the exact inverse of decode_line_block; and writers for
// raw records and raw main headers. Tests, benchmarks and the raw-data simulator make raw files
// with it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "format/line_record.h"
#include "format/main_header.h"

namespace quorda {

struct EncodeLimits {
  int max_lines = 2000;     // lines per block
  int max_payload = 32767;  // bytes per block payload
  int max_frame = 16383;    // bytes per frame, head included

  // When fixed_w_pos is not 0, every frame uses this base and these widths instead of the
  // smallest that fit its values (for frames that must be laid out exactly); a value that does
  // not fit them is an error.
  int fixed_base = 0;
  int fixed_w_pos = 0;
  int fixed_w_len = 0;
};

// Encodes lines into line-block payloads, each one the 16-bit line count followed by frames.
// A new frame starts where line numbers are not consecutive (y_count not exactly the one before
// plus 1) or a frame would grow past its limit; a new block where the block would hold more
// lines or payload bytes than the limits allow. Lines equal to the last coded line of the block
// become repetition codes. Each frame gets the base and widths that fit its values and the
// smallest frame length that holds every word the decoder fetches, its look-ahead word included.
// REQUIRES (else std::invalid_argument): y_count strictly rising; every line has 1 to 6 runs,
// each with start <= end and at or after the end of the run before it, pixel positions 0 to
// 1023; limits that hold at least one line.
std::vector<std::vector<uint8_t>> encode_line_blocks(std::span<const LineRecord> lines,
                                                     const EncodeLimits& limits = {});

// Appends one raw record (kind, payload length, payload) to a raw file image.
void append_record(std::vector<uint8_t>& file, int16_t kind, std::span<const uint8_t> payload);

// Appends a kind-3 record holding the 56-byte raw main header.
void append_main_header_record(std::vector<uint8_t>& file, const RawMainHeader& h);

}  // namespace quorda
