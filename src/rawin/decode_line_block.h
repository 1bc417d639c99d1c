// Line-data decompression: one line block payload into line records of the decoder's line buffer.
//
// A line block is a 16-bit line count n_lin followed by frames. A frame is a 32-bit frame word
// (bits 0-13 frame length with the 12-byte head, 14-23 base, 24-27 w_len, 28-31 w_pos), the
// 8-byte y_count of its first line and a bit stream of line codes read least significant bit
// first in 16-bit little-endian words. Every field is w bits: the low w-1 bits are its value, the
// top bit its flag.
//
// The bit reader keeps a 32-bit window, a bit position and a byte offset into the frame (head
// included). get(w): when the bit position is 16 or more, the window moves down 16 bits and the
// next 16-bit word of the frame, at the byte offset, enters its upper half (byte offset += 2, bit
// position -= 16); the field is then (window >> bit position), masked. Because the reader fetches
// one word ahead, a fetch may lie past the frame's length: bytes between the frame's length and the
// 16383-byte frame buffer read as zeros. A fetch beyond the buffer rejects the block.
#pragma once

#include <cstdint>
#include "base/diagnostics.h"
#include "rawin/rawin_state.h"

namespace quorda {

// Decodes the block payload (len bytes) into dec.line_buf; the messages of a damaged block go to
// diag. Sets *n_lin to the announced count (0 when it is not positive). Returns whether the lines
// are usable. A block announcing more than 2000 lines is cut to its first 2000: the caller uses
// min(*n_lin, 2000) lines.
bool decode_line_block(Decoder& dec, Diag& diag, const uint8_t* payload, int32_t len, int16_t* n_lin);

}  // namespace quorda
