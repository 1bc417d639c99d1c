// The encoder: camera lines into line-block payloads, the exact inverse of decmpr; and writers for
// raw records and raw main headers. Tests, benchmarks and the raw-data simulator make raw files
// with it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/line_record.h"
#include "common/main_header.h"

namespace quorda {

struct EncodeLimits {
  int max_lines = 2000;     // lines per block
  int max_payload = 32767;  // bytes per block payload
  int max_frame = 16383;    // bytes per frame, head included
};

// Encodes lines into line-block payloads.
// REQUIRES: y_count strictly rising; every line has 1 to 6 runs, sorted, each run at or after the
// end of the previous one, pixel positions 0 to 1023 (within 16383 of each other per line).
// A new frame starts where line numbers are not consecutive or a frame would grow past its limit;
// lines equal to the last coded line become repetition codes.
std::vector<std::vector<uint8_t>> encode_line_blocks(std::span<const LineRecord> lines,
                                                     const EncodeLimits& limits = {});

// Appends one raw record (kind, payload length, payload) to a raw file image.
void append_record(std::vector<uint8_t>& file, int16_t kind, std::span<const uint8_t> payload);

// Appends a kind-3 record holding the 56-byte raw main header.
void append_main_header_record(std::vector<uint8_t>& file, const HdPar& h);

}  // namespace quorda
