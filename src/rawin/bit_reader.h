// The bit reader of the line-data decoder: fields of one frame's bit stream, read in place from
// the block payload.
//
// Contract.
// - The stream is the frame's bytes after its 12-byte head, read least significant bit first (the
//   frame's 16-bit little-endian words, one after the other, are the same bits).
// - A frame may announce a stream it does not hold whole, and a damaged frame may be read past its
//   end: every bit past the frame's bytes reads as 0, never as the bytes that follow in the
//   payload. So does every bit from frame byte 16382 on (stream byte 16370): the frame buffer of
//   the line-block layout holds 16383 bytes and the stream is fetched in 16-bit words, so a word
//   at bytes 16382-16383 is never fetched.
// - Nothing is read outside [stream - 8, stream + n): loads near the end are taken from the last
//   8 bytes before the end and shifted, so the reader can run past the end for as long as it is
//   asked to, reading zeros, with no bounds check per field and no copy of the frame.
// - refill() makes at least 56 bits available, ensure(n) at least n; peek(w) and skip(w) then
//   take up to that many.
//   The window is a 64-bit word: refill() loads the next 8 bytes at the first unread byte and
//   shifts them in above the bits still held.
// - The word-fetch offset: the frame layout reads the stream in 16-bit words through a 32-bit
//   window, one word ahead; its byte offset (frame head included) after a field that begins at
//   stream bit c is 14 for c = 0, else 12 + 2 * (c / 16 + 2). offset_after_field_at() reports
//   it; fetches that would reach byte 16382 overflow the frame buffer (overflowed_at()) and the
//   offset stays at 16382.
//
// A small value type: the decoder keeps it in registers for its hot loop. One thread.
#pragma once

#include <cstdint>
#include <cstring>

#include "format/line_block_format.h"

namespace quorda {

class BitReader {
 public:
  // The frame buffer of the layout holds the largest frame, head included.
  static constexpr int32_t kFrameBufSize = lineblock::kMaxFrameLen;
  static constexpr int32_t kHeadSize = lineblock::kFrameHeadSize;
  // Stream bytes that can hold bits: word fetches end before frame byte 16382.
  static constexpr int32_t kMaxStreamBytes = kFrameBufSize - 1 - kHeadSize;

  // Starts reading the n-byte stream at `stream`, of which only the first kMaxStreamBytes count.
  // REQUIRES: n >= 0; the 8 bytes before `stream` and the n bytes from it are readable (a frame's
  // head and the 2-byte line count stand before its stream).
  void start(const uint8_t* stream, int32_t n) {
    stream_ = stream;
    guard_ = (n < kMaxStreamBytes ? n : kMaxStreamBytes) - 8;
    next_ = 0;
    bits_ = 0;
    avail_ = 0;
  }

  // At least 56 bits available after it.
  void refill() {
    // The 8 bytes at next_, zeros past the end: loaded from next_ or, near the end, from the last
    // 8 bytes of the stream and moved down.
    const int32_t at = next_ < guard_ ? next_ : guard_;
    uint64_t w;
    std::memcpy(&w, stream_ + at, sizeof w);  // little-endian host: the stream's bit order
    const uint32_t drop = static_cast<uint32_t>(next_ - at) * 8;
    w = drop < 64 ? w >> drop : 0;
    bits_ |= w << avail_;
    next_ += (63 - avail_) >> 3;
    avail_ |= 56;
  }

  // At least n bits available after it (n <= 56): a refill only when fewer are left.
  void ensure(int n) {
    if (avail_ < n) refill();
  }

  // The next w bits, not consumed. REQUIRES: 1 <= w <= the bits available.
  uint32_t peek(int w) const { return static_cast<uint32_t>(bits_) & ((1u << w) - 1u); }
  void skip(int w) {
    bits_ >>= w;
    avail_ -= w;
  }
  uint32_t get(int w) {
    uint32_t v = peek(w);
    skip(w);
    return v;
  }

  // Bits consumed since start().
  int32_t consumed() const { return next_ * 8 - avail_; }
  // Stream bit at which the field of width w just taken began.
  int32_t field_start(int w) const { return consumed() - w; }

  // The word-fetch offset after a field that began at stream bit c, and whether the words
  // fetched up to then reach beyond the frame buffer.
  static int32_t offset_after_field_at(int32_t c) {
    int32_t words = fetched_words(c);
    if (words > kMaxWords) words = kMaxWords;
    return kHeadSize + 2 * words;
  }
  static bool overflowed_at(int32_t c) { return fetched_words(c) > kMaxWords; }

 private:
  // Words the frame layout fetches once a field starting at stream bit c is read.
  static int32_t fetched_words(int32_t c) { return c == 0 ? 1 : c / 16 + 2; }
  // Words that fit the frame buffer behind the head.
  static constexpr int32_t kMaxWords = (kFrameBufSize - kHeadSize) / 2;

  // Unread bits, next one lowest. Above avail_ it may hold the start of the bytes at next_: the
  // next refill ORs the same bits in again.
  uint64_t bits_ = 0;
  int avail_ = 0;
  int32_t next_ = 0;   // stream offset of the first byte not yet loaded into bits_
  int32_t guard_ = 0;  // last offset from which 8 bytes of the stream can be loaded
  const uint8_t* stream_ = nullptr;
};

}  // namespace quorda
