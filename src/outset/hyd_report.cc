// The reports hydinfo prints on an output set.
#include "outset/hyd_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"
#include "platform/platform.h"

namespace quorda {

namespace {

std::string time_of_day(double seconds) {
  // Beyond a year of seconds the value is no time of day of a measuring day.
  constexpr double kLongest = 366.0 * 86400.0;
  if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongest) return "?";
  const auto ms = static_cast<int64_t>(std::llround(seconds * 1000));
  char b[32];
  std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return b;
}

std::string utc(uint32_t calendar_seconds) {
  const auto t = static_cast<time_t>(calendar_seconds);
  const std::tm tm = break_down_utc(t);
  char b[40];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return b;
}

// Quantile q of sorted values by linear interpolation between the closest ranks.
double quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return NAN;
  const double pos = q * static_cast<double>(sorted.size() - 1);
  const auto lo = static_cast<size_t>(pos);
  const size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (pos - static_cast<double>(lo));
}

int print_faults(const std::vector<std::string>& faults, FILE* to) {
  for (const std::string& f : faults) std::fprintf(to, "%s\n", f.c_str());
  return faults.empty() ? kReportOk : kReportInconsistent;
}

}  // namespace

void HeaderInForce::add(const uint8_t* rec, int32_t offset) {
  Entry e;
  e.h = decode_main_header(rec);
  e.line = static_cast<double>(e.h.main_time % 86400) * e.h.line_fr;
  e.offset = offset;
  list.push_back(e);
}

double HeaderInForce::line_fr(double t1) const {
  if (list.empty()) return 0;
  const Entry* in_force = &list.front();
  for (const Entry& e : list) {
    if (e.line <= t1) in_force = &e;
  }
  return in_force->h.line_fr;
}

// The column names end in the unit of their values (lines, s, mm, m/s, mm per pixel, pixel, bytes);
// line_no, line_no_diff and diff_lins count lines, nbits bits.
void CsvWriter::title(bool outline) {
  text(
      "t1_lines,time_s,eq_diam_mm,vel_m_s,scale_a_mm_px,scale_b_mm_px,line_no,line_no_diff,diff_lins,"
      "x_min_a_px,x_min_b_px,length_bytes,nbits");
  text(outline ? ",outline_a,outline_b\n" : "\n");
}

bool CsvWriter::record(const uint8_t* rec, const HeaderInForce& headers, bool outline) {
  if (kBufSize - used_ < kLongestLine) flush();
  const ParticleHead h = decode_particle_head(rec);
  const double fr = headers.line_fr(h.t1);
  const double values[] = {h.t1,
                           fr > 0 ? h.t1 / fr : NAN,
                           h.eq_diam / 100.0,
                           h.vel / 10000.0 * fr / 1000.0,
                           h.scale_a / 10000.0,
                           h.scale_b / 10000.0};
  const int precision[] = {6, 6, 2, 4, 4, 4};
  for (int i = 0; i < 6; ++i) {
    fixed(values[i], precision[i]);
    sep();
  }
  const int counts[] = {h.line_no, h.line_no_diff, h.diff_lins, h.x_min_a, h.x_min_b, h.length};
  for (int v : counts) {
    integer(v);
    sep();
  }
  integer(h.nbits);
  bool ok = true;
  if (outline) {
    ok = decode_outline(rec, h, outline_);
    sep();
    if (ok) runs(outline_.start_a, outline_.end_a, outline_.lines_a);
    sep();
    if (ok) runs(outline_.start_b, outline_.end_b, outline_.lines_b);
  }
  buf_[used_++] = '\n';
  return ok;
}

void CsvWriter::flush() {
  if (used_ > 0) std::fwrite(buf_.data(), 1, used_, out_);
  used_ = 0;
}

void CsvWriter::text(const char* t) {
  const size_t n = std::strlen(t);
  std::memcpy(buf_.data() + used_, t, n);
  used_ += n;
}

void CsvWriter::fixed(double v, int precision) {
  char* const at = buf_.data() + used_;
  used_ += static_cast<size_t>(
      std::to_chars(at, buf_.data() + kBufSize, v, std::chars_format::fixed, precision).ptr - at);
}

void CsvWriter::integer(int v) {
  char* const at = buf_.data() + used_;
  used_ += static_cast<size_t>(std::to_chars(at, buf_.data() + kBufSize, v).ptr - at);
}

void CsvWriter::runs(const int16_t* start, const int16_t* end, int n) {
  for (int i = 0; i < n; ++i) {
    if (i > 0) buf_[used_++] = ';';
    integer(start[i]);
    buf_[used_++] = ':';
    integer(end[i]);
  }
}

int report_check(const HydWalk& walk, const OutputSetBytes& set, FILE* out) {
  const std::vector<std::string> faults = check_output_set(walk, set);
  if (faults.empty()) {
    std::fprintf(out, "consistent: %zu records\n", walk.records.size());
    return kReportOk;
  }
  return print_faults(faults, out);
}

int report_csv(std::span<const uint8_t> hyd, const HydWalk& walk, bool outline, FILE* out, FILE* err) {
  HeaderInForce headers;
  for (const HydEntry& e : walk.records)
    if (e.header) headers.add(hyd.data() + e.offset, e.offset);
  CsvWriter csv(out);
  csv.title(outline);
  int bad = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    if (!csv.record(hyd.data() + e.offset, headers, outline)) ++bad;
  }
  csv.flush();
  std::fflush(out);
  if (!walk.ok()) {
    std::fprintf(err, "hydinfo: .hyd: %s\n", walk.error.c_str());
    return kReportInconsistent;
  }
  if (bad > 0) {
    std::fprintf(err, "hydinfo: %d particle records whose line counts do not fit their outline\n", bad);
    return kReportInconsistent;
  }
  return kReportOk;
}

int report_minute(std::span<const uint8_t> hyd, std::span<const uint8_t> hd, int minute, bool outline,
                  FILE* out, FILE* err) {
  const std::vector<int32_t> pos_pix = read_pos_pix(hd);
  if (pos_pix.empty()) {
    std::fprintf(err, "hydinfo: .hd: %zu bytes, too short for pos_pix\n", hd.size());
    return kReportInconsistent;
  }
  HeaderInForce headers;
  for (size_t at = kHdHeadSize; at + kMainHeaderSize <= hd.size(); at += kMainHeaderSize)
    headers.add(hd.data() + at, -1);
  const int32_t from = pos_pix[static_cast<size_t>(minute)];
  CsvWriter csv(out);
  csv.title(outline);
  csv.flush();
  if (from == kNoRecord) return kReportOk;  // no particle of this minute or later
  auto to = static_cast<int64_t>(hyd.size());
  for (int i = minute + 1; i < kMinutes; ++i) {
    if (pos_pix[static_cast<size_t>(i)] != kNoRecord) {
      to = pos_pix[static_cast<size_t>(i)];
      break;
    }
  }
  if (from < 0 || static_cast<size_t>(from) > hyd.size() || to < from ||
      static_cast<size_t>(to) > hyd.size()) {
    std::fprintf(err,
                 "hydinfo: .hd: pos_pix[%d]=%d and the next entry %lld do not lie in the %zu-byte stream\n",
                 minute, from, static_cast<long long>(to), hyd.size());
    return kReportInconsistent;
  }
  // The framing is checked as the full walk checks it, for the records of the range only.
  int64_t pos = from;
  int32_t prev_len = -1;
  while (pos < to) {
    if (to - pos < 4) break;
    const uint8_t* p = hyd.data() + pos;
    const int16_t first = get_i16(p);
    auto len = static_cast<int32_t>(kMainHeaderSize);
    if (prev_len >= 0 && get_i16(p + 2) != prev_len) break;
    if (first != kMainHeaderIndic) {
      const ParticleHead h = decode_particle_head(p);
      len = h.length;
      if (first < 0 || len < static_cast<int32_t>(kPixHeadSize) || h.nbits < 1 || h.nbits > 10 ||
          len > to - pos)
        break;
      if (!csv.record(p, headers, outline)) {
        csv.flush();
        std::fflush(out);
        std::fprintf(err, "hydinfo: .hyd: record at %lld: line counts do not fit its outline\n",
                     static_cast<long long>(pos));
        return kReportInconsistent;
      }
    } else if (len > to - pos) {
      break;
    }
    prev_len = len;
    pos += len;
  }
  csv.flush();
  std::fflush(out);
  if (pos != to) {
    std::fprintf(err,
                 "hydinfo: .hyd: record at %lld does not end where the next minute's entry %lld begins\n",
                 static_cast<long long>(pos), static_cast<long long>(to));
    return kReportInconsistent;
  }
  return kReportOk;
}

int report_summary(std::span<const uint8_t> hyd, const HydWalk& walk, const OutputSetBytes& set, FILE* out) {
  HeaderInForce headers;
  size_t particles = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header)
      headers.add(hyd.data() + e.offset, e.offset);
    else
      ++particles;
  }
  std::vector<double> diam, speed;
  diam.reserve(particles);
  speed.reserve(particles);
  std::array<bool, kMinutes> minute_seen{};
  double first = std::numeric_limits<double>::infinity(), last = -first;
  double first_fr = 0, last_fr = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    const ParticleHead h = decode_particle_head(hyd.data() + e.offset);
    const double fr = headers.line_fr(h.t1);
    diam.push_back(h.eq_diam / 100.0);
    // A damaged header's line frequency can make the speed NaN, which sorting cannot order.
    const double v = h.vel / 10000.0 * fr / 1000.0;
    if (!std::isnan(v)) speed.push_back(v);
    if (h.t1 < first) {
      first = h.t1;
      first_fr = fr;
    }
    if (h.t1 > last) {
      last = h.t1;
      last_fr = fr;
    }
    if (const int m = minute_of_line(h.t1, fr); m != kNoMinute) minute_seen[static_cast<size_t>(m)] = true;
  }
  std::sort(diam.begin(), diam.end());
  std::sort(speed.begin(), speed.end());

  std::fprintf(out, "records             %zu (%zu particle records, %zu main header records), %zu bytes\n",
               walk.records.size(), particles, headers.list.size(), hyd.size());
  int n = 0;
  for (const auto& e : headers.list) {
    const MainHeader& h = e.h;
    std::fprintf(out,
                 "main header %d       at %d: main time %s, line_fr %.1f lines/s, centre_pix %d, scales %.4f "
                 "%.4f mm/pixel, "
                 "distances %.1f %.1f mm, plane distances HBL %.3f HBR %.3f HFR %.3f mm\n",
                 ++n, e.offset, utc(h.main_time).c_str(), h.line_fr, h.centre_pix, h.xscale0_1, h.xscale0_2,
                 h.l0_1, h.l0_2, h.hbl, h.hbr, h.hfr);
  }
  if (particles > 0) {
    std::fprintf(out, "particles           %zu, first t1 %.1f at %s, last t1 %.1f at %s\n", particles, first,
                 time_of_day(first_fr > 0 ? first / first_fr : NAN).c_str(), last,
                 time_of_day(last_fr > 0 ? last / last_fr : NAN).c_str());
    std::fprintf(out, "eq. diameter mm     q1 %.3f  median %.3f  q3 %.3f\n", quantile(diam, 0.25),
                 quantile(diam, 0.5), quantile(diam, 0.75));
    std::fprintf(out, "fall speed m/s      q1 %.3f  median %.3f  q3 %.3f\n", quantile(speed, 0.25),
                 quantile(speed, 0.5), quantile(speed, 0.75));
    int minutes = 0, lo = -1, hi = -1;
    for (int i = 0; i < kMinutes; ++i) {
      if (!minute_seen[static_cast<size_t>(i)]) continue;
      ++minutes;
      if (lo < 0) lo = i;
      hi = i;
    }
    std::fprintf(out, "minutes with particles %d (minute %d to %d of the day)\n", minutes, lo, hi);
  } else {
    std::fprintf(out, "particles           0\n");
  }
  const std::vector<std::string> faults = check_output_set(walk, set);
  if (faults.empty()) {
    std::fprintf(out, "consistency         ok\n");
    return kReportOk;
  }
  std::fprintf(out, "consistency         %zu faults:\n", faults.size());
  return print_faults(faults, out);
}

}  // namespace quorda
