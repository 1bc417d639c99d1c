// The rain products of one measuring day.
#include "products/day_products.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/constants.h"
#include "format/hyd_walker.h"
#include "format/particle_record.h"

namespace quorda::products {
namespace {

constexpr int kSecondsPerDay = 86400;

struct HeaderAt {
  double line = 0;  // time of day in lines of the header's own line frequency
  FieldGeometry g;
};

}  // namespace

DayAccumulator::DayAccumulator(const ProductSettings& s, int64_t midnight) : area_(s.area) {
  day_.settings = s;
  day_.bins = DiameterBins::uniform(s.bin_width_mm, s.bin_max_mm);
  day_.midnight = midnight;
  const int n = static_cast<int>(std::ceil(kSecondsPerDay / s.interval_s - 1e-9));
  day_.rows.resize(n);
  for (int i = 0; i < n; ++i) {
    day_.rows[i].start_s = i * s.interval_s;
    day_.rows[i].end_s = std::min<double>((i + 1) * s.interval_s, kSecondsPerDay);
  }
  sums_.assign(n, IntervalSums(day_.bins.count()));
  day_.vd.diameter_bins = day_.bins.count();
  day_.vd.counts.assign(static_cast<size_t>(SpeedDiameterHistogram::kSpeedBins) * day_.bins.count(), 0);
}

void DayAccumulator::add_header(const MainHeader& h) {
  day_.headers.push_back(h);
}

void DayAccumulator::add(const MeasuredParticle& p, const FieldGeometry& g) {
  if (!(p.time_s >= 0 && p.time_s < kSecondsPerDay)) {
    ++day_.outside_day;
    return;
  }
  const int k =
      std::min(static_cast<int>(p.time_s / day_.settings.interval_s), static_cast<int>(day_.rows.size()) - 1);
  ParticleCounts& c = day_.rows[k].counts;
  ++c.seen;
  const int bin = day_.bins.index(p.d_mm);
  Verdict v = classify(p, day_.settings.filter);
  constexpr double kTopSpeed = SpeedDiameterHistogram::kSpeedStep * SpeedDiameterHistogram::kSpeedBins;
  if (v != Verdict::kEdge && bin >= 0 && p.v_m_s >= 0 && p.v_m_s < kTopSpeed) {
    const int s = static_cast<int>(p.v_m_s / SpeedDiameterHistogram::kSpeedStep);
    ++day_.vd.counts[s * day_.vd.diameter_bins + bin];
  }
  const double area = v == Verdict::kUsed ? area_.m2(g, p) : 0;
  if (v == Verdict::kUsed && !(area > 0)) v = Verdict::kEdge;
  switch (v) {
    case Verdict::kEdge:
      ++c.edge;
      return;
    case Verdict::kSize:
      ++c.size;
      return;
    case Verdict::kSpeed:
      ++c.speed;
      return;
    case Verdict::kUsed:
      break;
  }
  ++c.used;
  sums_[k].add(p.d_mm, p.v_m_s, area, bin);
  drops_.push_back({k, {p.d_mm, p.d_mm * p.d_mm * p.d_mm / (area * p.v_m_s)}});
}

DayProducts DayAccumulator::finish() {
  std::stable_sort(drops_.begin(), drops_.end(),
                   [](const DropAt& a, const DropAt& b) { return a.interval < b.interval; });
  std::vector<WeightedDrop> one;
  size_t next = 0;
  double amount = 0;
  for (size_t k = 0; k < day_.rows.size(); ++k) {
    one.clear();
    while (next < drops_.size() && drops_[next].interval == static_cast<int>(k))
      one.push_back(drops_[next++].drop);
    IntervalRow& row = day_.rows[k];
    const double d0 = median_volume_diameter(one);
    row.p = interval_products(sums_[k], row.end_s - row.start_s, day_.bins, d0);
    row.bin_count = sums_[k].bin_count();
    amount += row.p.amount;
    row.accumulated_mm = amount;
    day_.total.add(row.counts);
  }
  day_.amount_mm = amount;
  drops_.clear();
  return std::move(day_);
}

bool day_products(std::span<const uint8_t> hyd, const ProductSettings& s, DayProducts* out,
                  std::string* error, std::string* warning) {
  const HydWalk walk = walk_hyd(hyd);
  warning->clear();
  if (!walk.ok())
    *warning = "hydrometeor stream damaged: " + walk.error + "; products of the records before it";
  std::vector<HeaderAt> headers;
  std::vector<MainHeader> records;
  for (const HydEntry& e : walk.records) {
    if (!e.header) continue;
    const MainHeader h = decode_main_header(hyd.data() + e.offset);
    if (!(h.line_fr > 0) || h.centre_pix <= 0) continue;  // geometry unusable: such a header takes no part
    records.push_back(h);
    headers.push_back({static_cast<double>(h.main_time % kSecondsPerDay) * h.line_fr, field_geometry(h)});
  }
  if (headers.empty()) {
    *error = "no main header with a line frequency in the hydrometeor stream";
    return false;
  }
  const int64_t first = records.front().main_time;
  DayAccumulator acc(s, first - first % kSecondsPerDay);
  for (const MainHeader& h : records) acc.add_header(h);
  // The headers in order of their time of day, as the converter keeps them.
  std::stable_sort(headers.begin(), headers.end(),
                   [](const HeaderAt& a, const HeaderAt& b) { return a.line < b.line; });
  Outline outline;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    const uint8_t* rec = hyd.data() + e.offset;
    const ParticleHead h = decode_particle_head(rec);
    // The last header before t1; at a header's own time the one before it is still in force.
    auto it = std::lower_bound(headers.begin(), headers.end(), h.t1,
                               [](const HeaderAt& a, double t) { return a.line < t; });
    const FieldGeometry& g = it == headers.begin() ? headers.front().g : std::prev(it)->g;
    MeasuredParticle p;
    if (!measure_particle(rec, h, g, outline, &p)) {
      acc.add_unreadable();
      continue;
    }
    acc.add(p, g);
  }
  *out = acc.finish();
  return true;
}

bool read_day_products(const std::string& hyd_path, const ProductSettings& s, DayProducts* out,
                       std::string* error, std::string* warning) {
  FILE* f = std::fopen(hyd_path.c_str(), "rb");
  if (f == nullptr) {
    *error = hyd_path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  const bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) {
    *error = hyd_path + ": read error";
    return false;
  }
  return day_products(bytes, s, out, error, warning);
}

}  // namespace quorda::products
