// The rain products of one measuring day.
#include "products/day_products.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/constants.h"
#include "format/hyd_walker.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"

namespace quorda::products {
namespace {

constexpr int kSecondsPerDay = 86400;

struct HeaderAt {
  double line = 0;    // time of day in lines of the header's own line frequency
  double second = 0;  // time of day in seconds
  FieldGeometry g;
};

// The header in force at line t1: the last one before it; at a header's own time the one before
// it is still in force; before all of them the first.
// REQUIRES: headers is not empty and sorted by line.
size_t header_in_force(const std::vector<HeaderAt>& headers, double t1) {
  auto it = std::lower_bound(headers.begin(), headers.end(), t1,
                             [](const HeaderAt& a, double t) { return a.line < t; });
  return it == headers.begin() ? 0 : static_cast<size_t>(std::prev(it) - headers.begin());
}

// Start of the last minute either camera's raw-file minute index reached, in seconds of the day;
// -1 without an index.
double index_end_s(std::span<const uint8_t> abh) {
  int last = -1;
  for (size_t table : {kAbhMinutePosAOffset, kAbhMinutePosBOffset}) {
    if (abh.size() < table + kMinuteTableBytes) continue;
    for (int m = kMinutes - 1; m > last; --m) {
      if (get_minute_entry(abh.data() + table, m) != 0) {
        last = m;
        break;
      }
    }
  }
  return last < 0 ? -1 : std::min(last * 60.0, static_cast<double>(kSecondsPerDay));
}

// A remark for every change of the live pixels that leaves the header's pixel range.
std::vector<std::string> edge_notes(const std::vector<HeaderPeriod>& periods) {
  std::vector<std::string> notes;
  std::string last;
  for (const HeaderPeriod& p : periods) {
    const FieldGeometry& g = p.g;
    const std::string now = describe_edges(g);
    const bool full = g.first[0] == 0 && g.first[1] == 0 && g.end[0] == g.pixels && g.end[1] == g.pixels;
    if (now == last) continue;
    last = now;
    if (full) continue;
    char at[16];
    const int t = static_cast<int>(p.start_s);
    std::snprintf(at, sizeof at, "%02d:%02d:%02d", t / 3600, t / 60 % 60, t % 60);
    notes.push_back("live pixels from " + std::string(at) + ": " + now + ", not the header's 0.." +
                    std::to_string(g.pixels - 1) + "; a shadow reaching them counts as cut by the edge");
  }
  return notes;
}

}  // namespace

DayAccumulator::DayAccumulator(const ProductSettings& s, int64_t midnight) : area_(s.area) {
  day_.settings = s;
  day_.bins = DiameterBins::uniform(s.bin_width_mm, s.bin_max_mm, s.bin_min_mm);
  day_.midnight = midnight;
  const int n = static_cast<int>(std::ceil(kSecondsPerDay / s.interval_s - 1e-9));
  day_.rows.resize(n);
  for (int i = 0; i < n; ++i) {
    day_.rows[i].start_s = i * s.interval_s;
    day_.rows[i].end_s = std::min<double>((i + 1) * s.interval_s, kSecondsPerDay);
    day_.rows[i].measured_s = day_.rows[i].end_s - day_.rows[i].start_s;
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
  sums_[k].add(p.d_mm, p.v_m_s, area, day_.bins,
               day_.settings.spread_px * 0.5 * (p.pixel_a_mm + p.pixel_b_mm));
  drops_.push_back({k, {p.d_mm, p.d_mm * p.d_mm * p.d_mm / (area * p.v_m_s)}});
}

void DayAccumulator::set_time(std::vector<TimeSpan> measured, std::vector<HeaderPeriod> periods) {
  for (IntervalRow& r : day_.rows) {
    r.measured_s = measured_seconds(measured, r.start_s, r.end_s);
    const double mid = 0.5 * (r.start_s + r.end_s);
    auto it = std::upper_bound(periods.begin(), periods.end(), mid,
                               [](double t, const HeaderPeriod& h) { return t < h.start_s; });
    if (!periods.empty()) r.edges = it == periods.begin() ? it->g : std::prev(it)->g;
  }
  day_.measured = std::move(measured);
  day_.periods = std::move(periods);
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
    day_.total.add(row.counts);
    row.bin_count = sums_[k].bin_count();
    if (!row.measured()) {
      row.p = interval_products(IntervalSums(day_.bins.count()), 1, day_.bins, NAN);
      row.accumulated_mm = NAN;
      continue;
    }
    const double d0 = median_volume_diameter(one);
    row.p = interval_products(sums_[k], row.measured_s, day_.bins, d0);
    amount += row.p.amount;
    row.accumulated_mm = amount;
  }
  day_.amount_mm = amount;
  drops_.clear();
  return std::move(day_);
}

bool day_products(std::span<const uint8_t> hyd, std::span<const uint8_t> abh, const ProductSettings& s,
                  DayProducts* out, std::string* error, std::string* warning) {
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
    const auto second = static_cast<double>(h.main_time % kSecondsPerDay);
    headers.push_back({second * h.line_fr, second, field_geometry(h)});
  }
  if (headers.empty()) {
    *error = "no main header with a line frequency in the hydrometeor stream";
    return false;
  }
  const int64_t first = records.front().main_time;
  DayAccumulator acc(s, first - first % kSecondsPerDay);
  DayEvents events;
  for (const MainHeader& h : records) {
    acc.add_header(h);
    events.header_s.push_back(static_cast<double>(h.main_time % kSecondsPerDay));
  }
  events.index_end_s = index_end_s(abh);
  // The headers in order of their time of day, as the converter keeps them.
  std::stable_sort(headers.begin(), headers.end(),
                   [](const HeaderAt& a, const HeaderAt& b) { return a.line < b.line; });
  Outline outline;
  FieldEdgeFinder finder(static_cast<int>(headers.size()));
  for (int pass = 0; pass < 2; ++pass) {
    for (const HydEntry& e : walk.records) {
      if (e.header) continue;
      const uint8_t* rec = hyd.data() + e.offset;
      const ParticleHead h = decode_particle_head(rec);
      const size_t k = header_in_force(headers, h.t1);
      MeasuredParticle p;
      const bool readable = measure_particle(rec, h, headers[k].g, outline, &p);
      if (pass == 0) {
        if (readable) finder.add(static_cast<int>(k), p);
        continue;
      }
      if (!readable) {
        acc.add_unreadable();
        continue;
      }
      events.particle_s.push_back(p.time_s);
      acc.add(p, headers[k].g);
    }
    if (pass == 0)
      for (size_t k = 0; k < headers.size(); ++k) finder.apply(static_cast<int>(k), s.edges, &headers[k].g);
  }
  std::vector<HeaderPeriod> periods;
  periods.reserve(headers.size());
  for (const HeaderAt& h : headers) periods.push_back({h.second, h.g});
  acc.set_time(measured_spans(std::move(events), s.gap_s), periods);
  *out = acc.finish();
  out->notes = edge_notes(periods);
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
  std::vector<uint8_t> abh;
  const std::string stem = hyd_path.size() > 4 ? hyd_path.substr(0, hyd_path.size() - 4) : hyd_path;
  if (FILE* a = std::fopen((stem + ".abh").c_str(), "rb")) {
    while ((n = std::fread(buf, 1, sizeof buf, a)) > 0) abh.insert(abh.end(), buf, buf + n);
    std::fclose(a);
  }
  return day_products(bytes, abh, s, out, error, warning);
}

}  // namespace quorda::products
