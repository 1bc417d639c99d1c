// The bit reader of the line-data decoder: fields of a frame's bit stream, read from the frame
// buffer.
//
// Contract.
// - The frame buffer holds `capacity` bytes; byte offsets count from the start of the frame, its
//   12-byte head included, and the bit stream begins at offset 12. reset() is told how many bytes
//   of the buffer hold the frame (`filled`).
// - The stream is read least significant bit first, in 16-bit little-endian words. The reader
//   keeps a 32-bit window, a bit position and a byte offset. reset() sets window 0, bit position
//   32, byte offset 12.
// - get(w), for 1 <= w <= 15: when the bit position is 16 or more, the window moves down 16 bits,
//   the word at the byte offset enters its upper half, the byte offset grows by 2 and the bit
//   position drops by 16. The field is then (window >> bit position) masked to w bits; its low
//   w - 1 bits are the field's value, bit w - 1 its flag. The bit position grows by w.
// - The reader fetches one word ahead: after a field that begins in word k of the stream the byte
//   offset is 12 + 2 * (k + 2); after the first field of a frame it is 14.
// - Past the frame: bytes of the buffer at or after `filled` read as zeros, never as what an
//   earlier frame left there. The reader writes those zeros into the buffer itself, a few dozen
//   bytes at a time as it goes, so a frame costs no clearing of the whole buffer.
// - Past the buffer: a word that would not lie wholly inside `capacity` bytes is not read. The
//   reader enters its sticky overflow state instead: the word reads as zero, the byte offset
//   stays, and overflowed() reports it until the next reset(). The caller checks overflowed() once
//   per frame or before it trusts a result, not per field.
// - Nothing outside buf[0, capacity) is ever read or written.
//
// A plain value type: the decoder copies it into local variables for its hot loop. One thread.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/bytes.h"

namespace quorda {

class BitReader {
 public:
  // REQUIRES: buf holds `capacity` bytes, 14 <= capacity; 0 <= filled <= capacity.
  void reset(uint8_t* buf, int32_t capacity, int32_t filled) {
    buf_ = buf;
    capacity_ = capacity;
    filled_ = filled;
    window_ = 0;
    bit_pos_ = 32;
    byte_off_ = 12;
    overflow_ = false;
  }

  // The next w-bit field, value in the low w - 1 bits and flag in bit w - 1.
  // REQUIRES: 1 <= w <= 15, reset() was called.
  uint32_t get(int w) {
    if (bit_pos_ >= 16) refill();
    uint32_t field = (window_ >> bit_pos_) & ((1u << w) - 1u);
    bit_pos_ += w;
    return field;
  }

  int32_t byte_offset() const { return byte_off_; }
  int32_t bit_position() const { return bit_pos_; }
  bool overflowed() const { return overflow_; }

 private:
  // Bytes cleared in one step when the reader runs past the frame.
  static constexpr int32_t kZeroStep = 64;

  void refill() {
    uint32_t word;
    if (byte_off_ + 2 <= filled_) [[likely]] {
      word = get_u16(buf_ + byte_off_);
      byte_off_ += 2;
    } else {
      word = fetch_past_frame();
    }
    window_ = (window_ >> 16) | (word << 16);
    bit_pos_ -= 16;
  }

  // The word at the byte offset when it lies past the bytes filled so far: clears the next bytes
  // past the frame and reads the word (zero), or enters the overflow state at the end of the
  // buffer.
  uint32_t fetch_past_frame() {
    if (byte_off_ + 2 > capacity_) {
      overflow_ = true;
      return 0;
    }
    int32_t end = filled_ + kZeroStep;
    if (end < byte_off_ + 2) end = byte_off_ + 2;
    if (end > capacity_) end = capacity_;
    std::memset(buf_ + filled_, 0, static_cast<size_t>(end - filled_));
    filled_ = end;
    uint32_t word = get_u16(buf_ + byte_off_);
    byte_off_ += 2;
    return word;
  }

  uint8_t* buf_ = nullptr;
  int32_t capacity_ = 0;
  int32_t filled_ = 0;  // bytes of buf_ that hold the frame or cleared bytes
  uint32_t window_ = 0;
  int32_t bit_pos_ = 32;
  int32_t byte_off_ = 12;
  bool overflow_ = false;
};

}  // namespace quorda
