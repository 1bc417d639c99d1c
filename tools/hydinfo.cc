// hydinfo: reads a converter output set (.hyd, .hd, .abh) and prints a summary, checks the set's
// consistency, lists its particle records as CSV, or lists the records of one minute of the day
// found through the header file's per-minute index.
//
//   hydinfo out/V26150_1.hyd
//   hydinfo --check out/V26150_1
//   hydinfo --csv --outline out/V26150_1 > particles.csv
//   hydinfo --minute 601 out/V26150_1
//
// The files are mapped whole and read in place; listing a record needs no allocation.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/check_output_set.h"
#include "format/hyd_walker.h"
#include "format/particle_record.h"

namespace {

using namespace quorda;

constexpr int kExitOk = 0;
constexpr int kExitInconsistent = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "usage: hydinfo [options] BASE_OR_HYD_PATH\n"
    "Reads the output set of one raw day file: BASE.hyd (hydrometeor stream), BASE.hd (header\n"
    "file) and BASE.abh (index file). BASE may be given as dir/V26150_1 or dir/V26150_1.hyd.\n"
    "\n"
    "Without options: a summary: records, particles, the main headers (main time in UTC, line\n"
    "frequency, geometry), the time span of the particles, quartiles of the equivalent diameter\n"
    "and of the fall speed, minutes with particles, and the result of the consistency check.\n"
    "  --check         check the set: the stream walked forward and backward, the header file\n"
    "                  (pos_pix entries, oldlen, its main header records equal to the stream's), the\n"
    "                  index file (size, posa_bf/posb_bf not decreasing where set, lastpix_y equal\n"
    "                  to the truncated t1 of the last particle record); one line per fault\n"
    "  --csv           one line per particle record, after a title line:\n"
    "                  t1 (lines), time of day (s), eq_diam (mm), vel (m/s), scale_a and scale_b\n"
    "                  (mm per pixel), line_no, line_no_diff, diff_lins, x_min_a, x_min_b, record\n"
    "                  length (bytes), nbits\n"
    "  --outline       with --csv or --minute: two more columns, outline_a and outline_b, the\n"
    "                  outline of the particle in each camera as start:end pixel pairs, one per\n"
    "                  line, separated by ';' (e.g. 246:266;245:267)\n"
    "  --minute M      the CSV lines of the particle records of minute M of the day (0 to 1441),\n"
    "                  read from the stream position the header file's pos_pix gives for M up to\n"
    "                  that of the next minute with an entry\n"
    "  --abh PATH      the index file, when it is not BASE.abh (it lies in the raw data folder)\n"
    "  --help          this text\n"
    "Times of day and speeds use the line frequency of the main header in force at the particle's\n"
    "t1. Exit status: 0 fine, 1 inconsistent files, 2 usage error or unreadable files.\n";

// A whole file mapped read-only.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }

  // Returns "" or the reason the file cannot be read.
  std::string open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return path + ": " + std::strerror(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int e = errno;
      ::close(fd);
      return path + ": " + std::strerror(e);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return path + ": not a regular file";
    }
    size_ = static_cast<size_t>(st.st_size);
    if (size_ > 0) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      if (p == MAP_FAILED) {
        const int e = errno;
        ::close(fd);
        size_ = 0;
        return path + ": " + std::strerror(e);
      }
      data_ = static_cast<uint8_t*>(p);
    }
    ::close(fd);
    return "";
  }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

struct Options {
  std::string base;
  std::string abh_path;
  bool check = false;
  bool csv = false;
  bool outline = false;
  int minute = -1;
};

// The main headers of the set and the header in force at a line number: the last one whose time of
// day (in its own line units) is not later than it, else the first.
struct HeaderInForce {
  struct Entry {
    MainHeader h;
    double line = 0;
    int32_t offset = -1;  // in the stream; -1 when read from the header file
  };
  std::vector<Entry> list;

  void add(const uint8_t* rec, int32_t offset) {
    Entry e;
    e.h = decode_main_header(rec);
    e.line = static_cast<double>(e.h.main_time % 86400) * e.h.line_fr;
    e.offset = offset;
    list.push_back(e);
  }
  double line_fr(double t1) const {
    if (list.empty()) return 0;
    const Entry* in_force = &list.front();
    for (const Entry& e : list) {
      if (e.line <= t1) in_force = &e;
    }
    return in_force->h.line_fr;
  }
};

std::string time_of_day(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  const auto ms = static_cast<int64_t>(std::llround(seconds * 1000));
  char b[32];
  std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return b;
}

std::string utc(uint32_t calendar_seconds) {
  const time_t t = static_cast<time_t>(calendar_seconds);
  struct tm tm {};
  gmtime_r(&t, &tm);
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

// The CSV lines, formatted into one buffer that goes out in large writes: a million records are
// listed in well under a second.
class CsvWriter {
 public:
  ~CsvWriter() { flush(); }
  void title(bool outline) {
    text(
        "t1,time_s,eq_diam_mm,vel_m_s,scale_a_mm,scale_b_mm,line_no,line_no_diff,diff_lins,x_min_a,x_min_b,"
        "length,nbits");
    text(outline ? ",outline_a,outline_b\n" : "\n");
  }
  // One line for the particle record at `rec`. Returns false when its outline cannot be read.
  bool record(const uint8_t* rec, const HeaderInForce& headers, bool outline) {
    // The longest line: 13 numbers and two outlines of MAXLIN runs of two 6-character numbers.
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
  void flush() {
    if (used_ > 0) std::fwrite(buf_, 1, used_, stdout);
    used_ = 0;
  }

 private:
  static constexpr size_t kBufSize = 1 << 16;
  static constexpr size_t kLongestLine = 256 + 2 * MAXLIN * 14;

  void sep() { buf_[used_++] = ','; }
  void text(const char* t) {
    const size_t n = std::strlen(t);
    std::memcpy(buf_ + used_, t, n);
    used_ += n;
  }
  void fixed(double v, int precision) {
    used_ = static_cast<size_t>(
        std::to_chars(buf_ + used_, buf_ + kBufSize, v, std::chars_format::fixed, precision).ptr - buf_);
  }
  void integer(int v) {
    used_ = static_cast<size_t>(std::to_chars(buf_ + used_, buf_ + kBufSize, v).ptr - buf_);
  }
  void runs(const int16_t* start, const int16_t* end, int n) {
    for (int i = 0; i < n; ++i) {
      if (i > 0) buf_[used_++] = ';';
      integer(start[i]);
      buf_[used_++] = ':';
      integer(end[i]);
    }
  }

  char buf_[kBufSize];
  size_t used_ = 0;
  Outline outline_;
};

int usage(const char* fmt, const char* arg) {
  std::fprintf(stderr, "hydinfo: ");
  std::fprintf(stderr, fmt, arg);
  std::fprintf(stderr,
               "\nusage: hydinfo [--check | --csv [--outline] | --minute M] BASE_OR_HYD_PATH"
               " (--help for more)\n");
  return kExitUsage;
}

int unreadable(const std::string& why) {
  std::fprintf(stderr, "hydinfo: cannot read %s\n", why.c_str());
  return kExitUsage;
}

int print_faults(const std::vector<std::string>& faults, FILE* to) {
  for (const std::string& f : faults) std::fprintf(to, "%s\n", f.c_str());
  return faults.empty() ? kExitOk : kExitInconsistent;
}

int run_check(const HydWalk& walk, const OutputSetBytes& set) {
  const std::vector<std::string> faults = check_output_set(walk, set);
  if (faults.empty()) {
    std::printf("consistent: %zu records\n", walk.records.size());
    return kExitOk;
  }
  return print_faults(faults, stdout);
}

int run_csv(std::span<const uint8_t> hyd, const HydWalk& walk, bool outline) {
  HeaderInForce headers;
  for (const HydEntry& e : walk.records)
    if (e.header) headers.add(hyd.data() + e.offset, e.offset);
  static CsvWriter csv;
  csv.title(outline);
  int bad = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    if (!csv.record(hyd.data() + e.offset, headers, outline)) ++bad;
  }
  csv.flush();
  std::fflush(stdout);
  if (!walk.ok()) {
    std::fprintf(stderr, "hydinfo: .hyd: %s\n", walk.error.c_str());
    return kExitInconsistent;
  }
  if (bad > 0) {
    std::fprintf(stderr, "hydinfo: %d particle records whose line counts do not fit their outline\n", bad);
    return kExitInconsistent;
  }
  return kExitOk;
}

// The records of one minute: from pos_pix[M] up to the next entry that lies further on, walking the
// framing from there on (the stream before the entry is not read).
int run_minute(std::span<const uint8_t> hyd, std::span<const uint8_t> hd, int minute, bool outline) {
  const std::vector<int32_t> pos_pix = read_pos_pix(hd);
  if (pos_pix.empty()) {
    std::fprintf(stderr, "hydinfo: .hd: %zu bytes, too short for pos_pix\n", hd.size());
    return kExitInconsistent;
  }
  HeaderInForce headers;
  for (size_t at = kHdHeadSize; at + kMainHeaderSize <= hd.size(); at += kMainHeaderSize)
    headers.add(hd.data() + at, -1);
  const int32_t from = pos_pix[static_cast<size_t>(minute)];
  static CsvWriter csv;
  csv.title(outline);
  csv.flush();
  if (from == -1) return kExitOk;  // no particle of this minute or later
  int64_t to = static_cast<int64_t>(hyd.size());
  for (int i = minute + 1; i < kMinutes; ++i) {
    if (pos_pix[static_cast<size_t>(i)] != -1) {
      to = pos_pix[static_cast<size_t>(i)];
      break;
    }
  }
  if (from < 0 || static_cast<size_t>(from) > hyd.size() || to < from ||
      static_cast<size_t>(to) > hyd.size()) {
    std::fprintf(stderr,
                 "hydinfo: .hd: pos_pix[%d]=%d and the next entry %lld do not lie in the %zu-byte stream\n",
                 minute, from, static_cast<long long>(to), hyd.size());
    return kExitInconsistent;
  }
  // The framing is checked as the full walk checks it, for the records of the range only.
  int64_t pos = from;
  int32_t prev_len = -1;
  while (pos < to) {
    if (to - pos < 4) break;
    const uint8_t* p = hyd.data() + pos;
    const int16_t first = get_i16(p);
    int32_t len = static_cast<int32_t>(kMainHeaderSize);
    if (prev_len >= 0 && get_i16(p + 2) != prev_len) break;
    if (first != kMainHeaderIndic) {
      const ParticleHead h = decode_particle_head(p);
      len = h.length;
      if (first < 0 || len < static_cast<int32_t>(kPixHeadSize) || h.nbits < 1 || h.nbits > 10 ||
          len > to - pos)
        break;
      if (!csv.record(p, headers, outline)) {
        csv.flush();
        std::fflush(stdout);
        std::fprintf(stderr, "hydinfo: .hyd: record at %lld: line counts do not fit its outline\n",
                     static_cast<long long>(pos));
        return kExitInconsistent;
      }
    } else if (len > to - pos) {
      break;
    }
    prev_len = len;
    pos += len;
  }
  csv.flush();
  std::fflush(stdout);
  if (pos != to) {
    std::fprintf(stderr,
                 "hydinfo: .hyd: record at %lld does not end where the next minute's entry %lld begins\n",
                 static_cast<long long>(pos), static_cast<long long>(to));
    return kExitInconsistent;
  }
  return kExitOk;
}

int run_summary(std::span<const uint8_t> hyd, const HydWalk& walk, const OutputSetBytes& set) {
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
  double first = INFINITY, last = -INFINITY;
  double first_fr = 0, last_fr = 0;
  for (const HydEntry& e : walk.records) {
    if (e.header) continue;
    const ParticleHead h = decode_particle_head(hyd.data() + e.offset);
    const double fr = headers.line_fr(h.t1);
    diam.push_back(h.eq_diam / 100.0);
    speed.push_back(h.vel / 10000.0 * fr / 1000.0);
    if (h.t1 < first) {
      first = h.t1;
      first_fr = fr;
    }
    if (h.t1 > last) {
      last = h.t1;
      last_fr = fr;
    }
    if (fr > 0) {
      const double m = std::trunc(h.t1 / (fr * 60.0));
      if (m >= 0 && m < kMinutes) minute_seen[static_cast<size_t>(m)] = true;
    }
  }
  std::sort(diam.begin(), diam.end());
  std::sort(speed.begin(), speed.end());

  std::printf("records             %zu (%zu particle records, %zu main header records), %zu bytes\n",
              walk.records.size(), particles, headers.list.size(), hyd.size());
  int n = 0;
  for (const auto& e : headers.list) {
    const MainHeader& h = e.h;
    std::printf(
        "main header %d       at %d: main time %s, line_fr %.1f lines/s, centre_pix %d, scales %.4f %.4f "
        "mm/pixel, "
        "distances %.1f %.1f mm, plane distances HBL %.3f HBR %.3f HFR %.3f mm\n",
        ++n, e.offset, utc(h.main_time).c_str(), h.line_fr, h.centre_pix, h.xscale0_1, h.xscale0_2, h.l0_1,
        h.l0_2, h.hbl, h.hbr, h.hfr);
  }
  if (particles > 0) {
    std::printf("particles           %zu, first t1 %.1f at %s, last t1 %.1f at %s\n", particles, first,
                time_of_day(first_fr > 0 ? first / first_fr : NAN).c_str(), last,
                time_of_day(last_fr > 0 ? last / last_fr : NAN).c_str());
    std::printf("eq. diameter mm     q1 %.3f  median %.3f  q3 %.3f\n", quantile(diam, 0.25),
                quantile(diam, 0.5), quantile(diam, 0.75));
    std::printf("fall speed m/s      q1 %.3f  median %.3f  q3 %.3f\n", quantile(speed, 0.25),
                quantile(speed, 0.5), quantile(speed, 0.75));
    int minutes = 0, lo = -1, hi = -1;
    for (int i = 0; i < kMinutes; ++i) {
      if (!minute_seen[static_cast<size_t>(i)]) continue;
      ++minutes;
      if (lo < 0) lo = i;
      hi = i;
    }
    std::printf("minutes with particles %d (minute %d to %d of the day)\n", minutes, lo, hi);
  } else {
    std::printf("particles           0\n");
  }
  const std::vector<std::string> faults = check_output_set(walk, set);
  if (faults.empty()) {
    std::printf("consistency         ok\n");
    return kExitOk;
  }
  std::printf("consistency         %zu faults:\n", faults.size());
  return print_faults(faults, stdout);
}

int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    } else if (a == "--check") {
      o.check = true;
    } else if (a == "--csv") {
      o.csv = true;
    } else if (a == "--outline") {
      o.outline = true;
    } else if (a == "--minute" || a == "--abh") {
      if (i + 1 >= argc) return usage("%s needs a value", a.c_str());
      const char* v = argv[++i];
      if (a == "--abh") {
        o.abh_path = v;
        continue;
      }
      char* end = nullptr;
      errno = 0;
      const long m = std::strtol(v, &end, 10);
      if (errno != 0 || end == v || *end != '\0' || m < 0 || m >= kMinutes)
        return usage("--minute takes a minute of the day from 0 to 1441, not %s", v);
      o.minute = static_cast<int>(m);
    } else if (!a.empty() && a[0] == '-') {
      return usage("unknown option %s", a.c_str());
    } else if (o.base.empty()) {
      o.base = a;
    } else {
      return usage("more than one output set given: %s", a.c_str());
    }
  }
  if (o.base.empty()) return usage("%s", "no output set given");
  if (o.check + o.csv + (o.minute >= 0) > 1)
    return usage("%s", "--check, --csv and --minute exclude each other");
  if (o.outline && !o.csv && o.minute < 0) return usage("%s", "--outline goes with --csv or --minute");
  const std::string ext = ".hyd";
  if (o.base.size() > ext.size() && o.base.compare(o.base.size() - ext.size(), ext.size(), ext) == 0)
    o.base.resize(o.base.size() - ext.size());
  if (o.abh_path.empty()) o.abh_path = o.base + ".abh";
  return -1;
}

int run(int argc, char** argv) {
  Options o;
  if (const int st = parse(argc, argv, o); st >= 0) return st;

  MappedFile hyd, hd, abh;
  if (std::string e = hyd.open(o.base + ".hyd"); !e.empty()) return unreadable(e);
  const bool need_hd = !o.csv;
  const bool need_abh = !o.csv && o.minute < 0;
  if (need_hd) {
    if (std::string e = hd.open(o.base + ".hd"); !e.empty()) return unreadable(e);
  }
  if (need_abh) {
    if (std::string e = abh.open(o.abh_path); !e.empty()) return unreadable(e);
  }
  if (o.minute >= 0) return run_minute(hyd.bytes(), hd.bytes(), o.minute, o.outline);

  const HydWalk walk = walk_hyd(hyd.bytes());
  const OutputSetBytes set{hyd.bytes(), hd.bytes(), abh.bytes()};
  if (o.csv) return run_csv(hyd.bytes(), walk, o.outline);
  if (o.check) return run_check(walk, set);
  return run_summary(hyd.bytes(), walk, set);
}

}  // namespace

int main(int argc, char** argv) {
  const int st = run(argc, argv);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "hydinfo: cannot write the output: %s\n", std::strerror(errno));
    return kExitUsage;
  }
  return st;
}
