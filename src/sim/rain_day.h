// The simulated rain day: drops arriving over a part of the day, rendered line by line onto the
// two cameras, grouped into line blocks and written as the records of a raw day file, with one
// truth entry per particle.
//
// The day is produced as a stream: drops are generated in order of arrival just ahead of the
// lines being rendered and retired as soon as both cameras have passed them, so memory stays
// bounded by the drops in flight and a day of millions of drops costs no per-drop allocation.
//
// Records: a main header first; then, per time slice, camera A's line block(s) and camera B's
// line block(s) of that slice; optionally later main headers (same instrument, later main time)
// and status records of a kind the converter steps over. A camera's block ends at the first line
// without shadow after the slice's end (or after block_lines lines), so no particle's lines are
// split between blocks unless a camera is shadowed without a break for block_hard_lines lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/line_record.h"
#include "format/main_header.h"
#include "sim/rain_physics.h"
#include "sim/sim_drop.h"
#include "sim/sim_instrument.h"

namespace quorda::sim {

struct DayConfig {
  SimInstrument inst;
  int year = 2026;  // full year; the raw file carries year % 100
  int day_of_year = 150;
  double header_second = 0;  // second of the day from which the first main header is in force
  double rain_start = 3600;  // seconds of the day
  double rain_end = 3720;
  RainSpec rain;
  double speed_scatter = 0.03;  // relative standard deviation of fall speeds
  double clutter_rate = 0;      // clutter particles per second
  int clutter_cameras = 2;      // which cameras may see clutter: 1 = A, 2 = B, 3 = either
  // Drops fall over the field widened by this many pixels beyond both ends of both lines, so that
  // drops whose centre lies outside the field shadow its edge pixels as they do in nature. 0: the
  // centres lie inside the field (the days made before the margin existed).
  double margin_px = 0;
  uint64_t seed = 1;
  int slice_lines = 5500;       // time slice of the blocks
  int block_lines = 1000;       // a block this long closes at the next gap
  int block_hard_lines = 1500;  // a block this long closes at once
  double header_every = 0;      // seconds between later main headers; 0: none
  double status_every = 0;      // seconds between status records; 0: none
  // The instrument records nothing from gap_start to gap_end (seconds of the day): no drops, no
  // headers, no status records; it starts again with a main header at gap_end. None when
  // gap_end <= gap_start.
  double gap_start = 0;
  double gap_end = 0;
};

struct DayStats {
  uint64_t drops = 0;
  uint64_t clutter = 0;
  uint64_t merged = 0;
  uint64_t cut = 0;
  uint64_t lines[2] = {};
  uint64_t blocks[2] = {};
  uint64_t headers = 0;
  uint64_t status_records = 0;
  uint64_t raw_bytes = 0;
  int64_t first_line = -1;  // first and last line of camera A
  int64_t last_line = -1;
};

// Receives the raw file's bytes in order.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const uint8_t* data, size_t n) = 0;
};

// Receives every particle once both cameras are past it, in order of arrival.
class TruthSink {
 public:
  virtual ~TruthSink() = default;
  virtual void particle(const SimDrop& d) = 0;
};

// Optionally sees the lines of every block before it is encoded (cam 0 = A, 1 = B).
class BlockObserver {
 public:
  virtual ~BlockObserver() = default;
  virtual void block(int cam, std::span<const LineRecord> lines) = 0;
};

// Calendar seconds (UTC) of the midnight that starts the given day of the year.
int64_t midnight_seconds(int year, int day_of_year);

// The raw main header of the simulated instrument in force from `second` of the configured day.
RawMainHeader day_header(const DayConfig& cfg, double second);

// Measuring area crossed by drops, m^2 (the full lines of both cameras at their centre scales).
double area_m2(const SimInstrument& inst);

// Area over which drops fall, m^2: the measuring area widened by the margin on every side.
double fall_area_m2(const DayConfig& cfg);

DayStats simulate_day(const DayConfig& cfg, ByteSink& raw, TruthSink& truth,
                      BlockObserver* observer = nullptr);

}  // namespace quorda::sim
