// The rain products of one measuring day, from the hydrometeor stream (".hyd") of an output set.
//
// The stream carries both the particle records and the main header records, so it alone gives
// every particle its geometry: the header in force at a particle's line time t1 is the last one
// whose time of day (main_time mod 86400, in lines of its own line frequency) is not later than
// t1, or the first header when t1 precedes them all. The day is cut into intervals of dt seconds
// from midnight (UTC of the first header's main time); every interval of the day gets a row, the
// ones without particles included, so that days line up in a campaign.
//
// DayAccumulator takes the particles one by one without allocating per particle beyond the
// amortised growth of the list the median volume diameter needs; read_day_products drives it over
// a whole stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/main_header.h"
#include "products/diameter_bins.h"
#include "products/field_edges.h"
#include "products/interval_products.h"
#include "products/measured_particle.h"
#include "products/measured_time.h"
#include "products/measuring_area.h"
#include "products/particle_filter.h"

namespace quorda::products {

struct ProductSettings {
  double interval_s = 60;
  FilterSettings filter;
  AreaRule area = AreaRule::kPaired;
  double bin_width_mm = 0.2;
  double bin_max_mm = 10.0;
  // Lower edge of the N(D) classes and smallest drop N_t counts: the smallest size the
  // instrument counts reliably (docs/rain_products.md). The other products use every used drop.
  double bin_min_mm = 0.4;
  EdgeOverride edges;  // the live pixels, when the user sets them
  double gap_s = -1;   // silence before a main header that counts as a gap; -1: default, 0: none
  // Width over which N(D) spreads a drop, in the drop's mean local pixel widths (0: not spread).
  double spread_px = 0.5;
};

// Counts of particles over diameter bins and fall speed bins of 0.2 m/s from 0 to 12 m/s: all
// particles that the edge did not cut, used or not.
struct SpeedDiameterHistogram {
  static constexpr double kSpeedStep = 0.2;
  static constexpr int kSpeedBins = 60;
  int diameter_bins = 0;
  std::vector<int64_t> counts;  // [speed bin * diameter_bins + diameter bin]
};

struct IntervalRow {
  double start_s = 0;  // seconds of the day
  double end_s = 0;
  ParticleCounts counts;
  std::vector<int64_t> bin_count;  // used drops per diameter bin
  IntervalProducts p;
  double accumulated_mm = 0;  // rain amount of the measured time from midnight to the interval's end
  double measured_s = 0;      // seconds of the interval that were measured
  FieldGeometry edges;        // geometry (live pixels) in force at the interval's middle
  bool measured() const { return measured_s > 0; }
  double measured_fraction() const { return measured_s / (end_s - start_s); }
};

// A main header period: the header's time and the geometry with the live pixels used.
struct HeaderPeriod {
  double start_s = 0;  // second of the day from which the header is in force
  FieldGeometry g;
};

struct DayProducts {
  ProductSettings settings;
  DiameterBins bins;
  int64_t midnight = 0;  // calendar seconds (UTC) of the day's midnight
  std::vector<MainHeader> headers;
  std::vector<IntervalRow> rows;
  ParticleCounts total;
  int64_t outside_day = 0;  // particles whose time lies outside the day (not in any row)
  int64_t unreadable = 0;   // particle records whose outline does not fit their head
  double amount_mm = 0;
  SpeedDiameterHistogram vd;
  std::vector<HeaderPeriod> periods;  // in order of time
  std::vector<TimeSpan> measured;     // the measured time of the day
  std::vector<std::string> notes;     // remarks for the user (edges off the header's range)
};

class DayAccumulator {
 public:
  // REQUIRES: s.interval_s > 0 and divides into a whole number of intervals per day or fewer;
  // s.bin_width_mm > 0, s.bin_max_mm > 0.
  DayAccumulator(const ProductSettings& s, int64_t midnight);

  void add_header(const MainHeader& h);
  // One measured particle with the geometry in force.
  void add(const MeasuredParticle& p, const FieldGeometry& g);
  void add_unreadable() { ++day_.unreadable; }
  // The measured time and the header periods; rows outside the measured time stay without products.
  void set_time(std::vector<TimeSpan> measured, std::vector<HeaderPeriod> periods);
  // Finishes the rows (products, accumulated amount) and hands the day over.
  DayProducts finish();

 private:
  DayProducts day_;
  MeasuringArea area_;
  std::vector<IntervalSums> sums_;
  struct DropAt {
    int interval;
    WeightedDrop drop;
  };
  std::vector<DropAt> drops_;
};

// The products of the stream `hyd`, with `abh` the set's index file (may be empty) for the end
// of the data reached. Returns false, with *error set, when the stream holds no main header. A
// stream whose framing breaks somewhere gives the products of the records before the break and a
// non-empty *warning.
bool day_products(std::span<const uint8_t> hyd, std::span<const uint8_t> abh, const ProductSettings& s,
                  DayProducts* out, std::string* error, std::string* warning);
inline bool day_products(std::span<const uint8_t> hyd, const ProductSettings& s, DayProducts* out,
                         std::string* error, std::string* warning) {
  return day_products(hyd, {}, s, out, error, warning);
}

// Reads the file, and the index file beside it when there is one, and calls day_products.
// *error also tells when the file cannot be read.
bool read_day_products(const std::string& hyd_path, const ProductSettings& s, DayProducts* out,
                       std::string* error, std::string* warning);

}  // namespace quorda::products
