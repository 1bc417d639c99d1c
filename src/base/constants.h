// Sizes and limits shared by more than one subsystem of the converter.
//
// Constants that only one routine uses live beside that routine; the byte layouts of the output
// files (main header record, the heads of the header and index files, minute tables) live in the
// format floor beside their coders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorda {

// One measuring day, indexed by minute of the day (0 to 1441).
inline constexpr int kMinutes = 1442;

// The two cameras of the instrument, by the numbers the raw records and messages give them.
enum class Camera { kA = 1, kB = 2 };

// Line records and line blocks.
inline constexpr int kMaxRuns = 6;
inline constexpr int kLineBufLines = 2000;

// Main headers a run lists at most.
inline constexpr int kMaxMainHeaders = 100;

// Pieces and their pool.
inline constexpr int MAXLIN = 600;
inline constexpr int POOL_SIZE = 900;
inline constexpr double MATCH_SPAN = 1200.0;

// Particle records of the hydrometeor stream.
inline constexpr int kMaxOutlineValues = 4 * MAXLIN;  // 2400
inline constexpr int kMaxOutlineWords = 1500;
inline constexpr int kMaxRecordLength = 2048;  // a record of this length or more is refused

// Output writer buffer.
inline constexpr size_t kPixBufSize = 200000;

// Correction tables: 512 factors, index = size in 0.1 mm steps.
inline constexpr int kCorrEntries = 512;

}  // namespace quorda
