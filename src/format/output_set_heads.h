// The heads of the output set's header file (".hd") and index file (".abh"): their byte layout and
// the coders that the converter, its recovery, hydinfo and the tests share.
//
// Header file: the minute table of the hydrometeor stream (the head's pos_pix field), then the
// 16-bit length of the last record of the stream (its oldlen field), then the 74-byte main header
// records. Index file: the raw-file minute tables of cameras A and B (its posa_bf and posb_bf
// fields), then the line number of the last particle saved (its lastpix_y field) as a 32-bit low
// word and a 32-bit high word. A file created by open_output_set ends before the high word; a save
// writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "format/minute_table.h"

namespace quorda {

// Header file.
inline constexpr size_t kHdPosPixOffset = 0;
inline constexpr size_t kHdLastRecordLenOffset = kHdPosPixOffset + kMinuteTableBytes;  // 5768
inline constexpr size_t kHdHeadSize = kHdLastRecordLenOffset + 2;                      // 5770

// Index file.
inline constexpr size_t kAbhMinutePosAOffset = 0;
inline constexpr size_t kAbhMinutePosBOffset = kAbhMinutePosAOffset + kMinuteTableBytes;     // 5768
inline constexpr size_t kAbhLastSavedLineOffset = kAbhMinutePosBOffset + kMinuteTableBytes;  // 11536
inline constexpr size_t kAbhLastSavedLineHighOffset = kAbhLastSavedLineOffset + 4;           // 11540
inline constexpr size_t kAbhCreatedSize = kAbhLastSavedLineHighOffset;                       // 11540
inline constexpr size_t kAbhSavedSize = kAbhLastSavedLineHighOffset + 4;                     // 11544

// The last saved line of an index file: the low word at its place and, in a file of the saved
// size, the high word after it. 0 when the file is too short to hold it.
inline uint64_t read_last_saved_line(std::span<const uint8_t> abh) {
  if (abh.size() < kAbhCreatedSize) return 0;
  uint64_t v = get_u32(abh.data() + kAbhLastSavedLineOffset);
  if (abh.size() >= kAbhSavedSize)
    v |= static_cast<uint64_t>(get_u32(abh.data() + kAbhLastSavedLineHighOffset)) << 32;
  return v;
}

// The index file's head as a save writes it: both raw-file minute tables and the whole last saved
// line. A created file holds its first kAbhCreatedSize bytes.
// REQUIRES: dst has room for kAbhSavedSize bytes.
inline void encode_abh_head(std::span<const int32_t, kMinutes> minute_pos_a,
                            std::span<const int32_t, kMinutes> minute_pos_b, uint64_t last_saved_line,
                            uint8_t* dst) {
  encode_minute_table(minute_pos_a, dst + kAbhMinutePosAOffset);
  encode_minute_table(minute_pos_b, dst + kAbhMinutePosBOffset);
  put_u64(dst + kAbhLastSavedLineOffset, last_saved_line);
}

}  // namespace quorda
