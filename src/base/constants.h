// Sizes, offsets and limits shared by more than one subsystem of the converter.
//
// Constants that only one routine uses live beside that routine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorda {

// One measuring day, indexed by minute of the day (0 to 1441).
inline constexpr int kMinutes = 1442;
inline constexpr size_t kMinuteTableBytes = size_t{kMinutes} * 4;  // 5768, one 32-bit entry a minute

// Raw file records: a 4-byte head (kind, payload length) and the payload.
inline constexpr size_t kRecordHeadSize = 4;
inline constexpr int32_t kMaxPayload = 32767;
inline constexpr int16_t kKindLinesA = 1;
inline constexpr int16_t kKindLinesB = 2;
inline constexpr int16_t kKindMainHeader = 3;

// The two cameras of the instrument, by the numbers the raw records and messages give them.
enum class Camera { kA = 1, kB = 2 };

// Line records and line blocks.
inline constexpr int kMaxRuns = 6;
inline constexpr int kLineBufLines = 2000;

// Raw main header payload and the main header record of the output files.
inline constexpr size_t kRawMainHeaderSize = 56;
inline constexpr size_t kMainHeaderSize = 74;
inline constexpr int kMaxMainHeaders = 100;

// Pieces and their pool.
inline constexpr int MAXLIN = 600;
inline constexpr int POOL_SIZE = 900;
inline constexpr double MATCH_SPAN = 1200.0;

// Header file ".hd": pos_pix, then oldlen, then the main header records.
inline constexpr size_t kHdLastRecordLenOffset = kMinuteTableBytes;  // 5768
inline constexpr size_t kHdHeadSize = kHdLastRecordLenOffset + 2;    // 5770

// Index file ".abh": posa_bf, posb_bf, lastpix_y (low word), lastpix_y (high word).
inline constexpr size_t kAbhMinutePosBOffset = kMinuteTableBytes;                            // 5768
inline constexpr size_t kAbhLastSavedLineOffset = kAbhMinutePosBOffset + kMinuteTableBytes;  // 11536
inline constexpr size_t kAbhLastSavedLineHighOffset = kAbhLastSavedLineOffset + 4;           // 11540
inline constexpr size_t kAbhCreatedSize = kAbhLastSavedLineHighOffset;                       // 11540
inline constexpr size_t kAbhSavedSize = kAbhLastSavedLineHighOffset + 4;                     // 11544

// Particle records of the hydrometeor stream.
inline constexpr size_t kPixHeadSize = 30;
inline constexpr int kMaxOutlineValues = 4 * MAXLIN;  // 2400
inline constexpr int kMaxOutlineWords = 1500;
inline constexpr int kMaxRecordLength = 2048;  // a record of this length or more is refused
inline constexpr int16_t kMainHeaderIndic = -74;

// Output writer buffer.
inline constexpr size_t kPixBufSize = 200000;

// Correction tables: 512 factors, index = size in 0.1 mm steps.
inline constexpr int kCorrEntries = 512;

}  // namespace quorda
