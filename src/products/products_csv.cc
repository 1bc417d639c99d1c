// The rain products of a day as a CSV table.
#include "products/products_csv.h"

#include <cmath>
#include <ctime>

namespace quorda::products {
namespace {

void number(std::string& s, double v) {
  s += ',';
  if (!std::isfinite(v)) return;
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  s += b;
}

void count(std::string& s, int64_t v) {
  s += ',';
  s += std::to_string(v);
}

}  // namespace

std::string iso_time(int64_t calendar_seconds) {
  const auto t = static_cast<time_t>(calendar_seconds);
  struct tm tm {};
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  char b[40];
  std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return b;
}

bool write_products_csv(const DayProducts& day, FILE* f, bool title) {
  std::string s;
  if (title) {
    s = "time,start_s,end_s,particles,used,edge,size,speed,nt_m-3,r_mm_h,w_g_m-3,z_mm6_m-3,dbz,dm_mm,d0_mm,"
        "nw_m-3_mm-1,amount_mm,accumulated_mm";
    for (int i = 0; i < day.bins.count(); ++i) {
      char b[48];
      std::snprintf(b, sizeof b, ",nd_%g_%g", day.bins.lower(i), day.bins.upper(i));
      s += b;
    }
    s += ",measured_fraction,pixel_a_first,pixel_a_last,pixel_b_first,pixel_b_last,nt_se,r_se,dbz_se,dm_se";
    for (int i = 0; i < day.bins.count(); ++i) {
      char b[48];
      std::snprintf(b, sizeof b, ",nd_se_%g_%g", day.bins.lower(i), day.bins.upper(i));
      s += b;
    }
    s += '\n';
  }
  for (const IntervalRow& r : day.rows) {
    s += iso_time(day.midnight + static_cast<int64_t>(r.start_s));
    number(s, r.start_s);
    number(s, r.end_s);
    // An interval outside the measured time: empty cells, not zero rain.
    const double gone = r.measured() ? 1.0 : NAN;
    for (int64_t c : {r.counts.seen, r.counts.used, r.counts.edge, r.counts.size, r.counts.speed}) {
      if (r.measured()) {
        count(s, c);
      } else {
        s += ',';
      }
    }
    for (double v : {r.p.nt, r.p.rain_rate, r.p.lwc, r.p.z, r.p.dbz, r.p.dm, r.p.d0, r.p.nw, r.p.amount,
                     r.accumulated_mm})
      number(s, v * gone);
    for (double v : r.p.nd) number(s, v * gone);
    number(s, r.measured_fraction());
    for (int c = 0; c < 2; ++c) {
      count(s, r.edges.first[c]);
      count(s, r.edges.end[c] - 1);
    }
    for (double v : {r.p.nt_se, r.p.rain_rate_se, r.p.dbz_se, r.p.dm_se}) number(s, v * gone);
    for (double v : r.p.nd_se) number(s, v * gone);
    s += '\n';
    if (s.size() > (1 << 16)) {
      if (std::fwrite(s.data(), 1, s.size(), f) != s.size()) return false;
      s.clear();
    }
  }
  return std::fwrite(s.data(), 1, s.size(), f) == s.size() && std::fflush(f) == 0;
}

}  // namespace quorda::products
