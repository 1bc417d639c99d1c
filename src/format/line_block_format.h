// The layout of a line-block payload, shared by the decoder and the encoder.
//
// A payload is a 16-bit line count followed by frames. A frame is a 32-bit frame word, the 8-byte
// y_count of its first line and a bit stream of line codes. Frame word bits: 0-13 frame length
// (head included), 14-23 base, 24-27 w_len, 28-31 w_pos.
#pragma once

#include <cstdint>

namespace quorda::lineblock {

inline constexpr int32_t kLineCountSize = 2;
inline constexpr int32_t kFrameWordSize = 4;
inline constexpr int32_t kFrameYCountOffset = 4;
inline constexpr int32_t kFrameHeadSize = 12;
inline constexpr uint32_t kFrameLenMask = 0x3FFF;
inline constexpr int32_t kMaxFrameLen = 16383;  // 14 bits of the frame word
inline constexpr int kBaseShift = 14;
inline constexpr uint32_t kBaseMask = 0x3FF;
inline constexpr int kWLenShift = 24;
inline constexpr int kWPosShift = 28;
inline constexpr uint32_t kWidthMask = 0xF;

inline uint32_t frame_word(int32_t length, int base, int w_len, int w_pos) {
  return static_cast<uint32_t>(length) | static_cast<uint32_t>(base) << kBaseShift |
         static_cast<uint32_t>(w_len) << kWLenShift | static_cast<uint32_t>(w_pos) << kWPosShift;
}

}  // namespace quorda::lineblock
