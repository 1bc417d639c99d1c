// The record of a raw file: a 4-byte head, then the payload. The head holds the record's kind
// (line block of camera A or B, main header, others skipped) and the payload's length, each a
// 16-bit little-endian signed number. The reader (src/rawin) and the simulator's encoder (src/sim)
// both code the head here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace quorda {

inline constexpr size_t kRecordHeadSize = 4;
inline constexpr int32_t kMaxPayload = 32767;
inline constexpr int16_t kKindLinesA = 1;
inline constexpr int16_t kKindLinesB = 2;
inline constexpr int16_t kKindMainHeader = 3;

namespace rawhead {
inline constexpr size_t kKind = 0;
inline constexpr size_t kPayloadLen = 2;
}  // namespace rawhead

struct RawRecordHead {
  int16_t kind = 0;
  int16_t payload_len = 0;  // may be negative in a damaged file
};

// REQUIRES: p holds kRecordHeadSize bytes.
inline RawRecordHead get_record_head(const uint8_t* p) {
  return {get_i16(p + rawhead::kKind), get_i16(p + rawhead::kPayloadLen)};
}

// REQUIRES: p has room for kRecordHeadSize bytes.
inline void put_record_head(uint8_t* p, const RawRecordHead& head) {
  put_i16(p + rawhead::kKind, head.kind);
  put_i16(p + rawhead::kPayloadLen, head.payload_len);
}

}  // namespace quorda
