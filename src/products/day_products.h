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
#include "products/interval_products.h"
#include "products/measured_particle.h"
#include "products/measuring_area.h"
#include "products/particle_filter.h"

namespace quorda::products {

struct ProductSettings {
  double interval_s = 60;
  FilterSettings filter;
  AreaRule area = AreaRule::kPaired;
  double bin_width_mm = 0.2;
  double bin_max_mm = 10.0;
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
  double accumulated_mm = 0;  // rain amount from midnight to the end of the interval
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

// The products of the stream `hyd`. Returns false, with *error set, when the stream holds no main
// header. A stream whose framing breaks somewhere gives the products of the records before the
// break and a non-empty *warning.
bool day_products(std::span<const uint8_t> hyd, const ProductSettings& s, DayProducts* out,
                  std::string* error, std::string* warning);

// Reads the file and calls day_products. *error also tells when the file cannot be read.
bool read_day_products(const std::string& hyd_path, const ProductSettings& s, DayProducts* out,
                       std::string* error, std::string* warning);

}  // namespace quorda::products
