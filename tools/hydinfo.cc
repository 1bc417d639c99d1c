// hydinfo: reads a converter output set (.hyd, .hd, .abh) and prints a summary, checks the set's
// consistency, lists its particle records as CSV, or lists the records of one minute of the day
// found through the header file's per-minute index.
//
//   hydinfo out/V26150_1.hyd
//   hydinfo --check out/V26150_1
//   hydinfo --csv --outline out/V26150_1 > particles.csv
//   hydinfo --minute 601 out/V26150_1
//
// The files are read whole into memory when the program starts; the reports themselves are in
// format/hyd_report.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "base/constants.h"
#include "base/version.h"
#include "format/hyd_walker.h"
#include "outset/check_output_set.h"
#include "outset/hyd_report.h"

namespace {

using namespace quorda;

constexpr int kExitOk = kReportOk;
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

// A whole file read into memory (opened in binary mode): what the file holds when it is read,
// however it changes afterwards (a set being converted grows; one being recovered may shrink).
class FileBytes {
 public:
  // Returns "" or the reason the file cannot be read. A FIFO or a device is refused before it is
  // opened: reading it would block or never end.
  std::string open(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      if (ec || !std::filesystem::exists(path)) return path + ": " + std::strerror(ENOENT);
      return path + ": not a regular file";
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return path + ": " + std::strerror(errno);
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data_.insert(data_.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return path + ": read error";
    return "";
  }
  std::span<const uint8_t> bytes() const { return {data_.data(), data_.size()}; }

 private:
  std::vector<uint8_t> data_;
};

struct Options {
  std::string base;
  std::string abh_path;
  bool check = false;
  bool csv = false;
  bool outline = false;
  int minute = -1;
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

int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    } else if (a == "--version") {
      std::printf("hydinfo from %s\n", std::string(quorda::version_text()).c_str());
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

  FileBytes hyd, hd, abh;
  if (std::string e = hyd.open(o.base + ".hyd"); !e.empty()) return unreadable(e);
  const bool need_hd = !o.csv;
  const bool need_abh = !o.csv && o.minute < 0;
  if (need_hd) {
    if (std::string e = hd.open(o.base + ".hd"); !e.empty()) return unreadable(e);
  }
  if (need_abh) {
    if (std::string e = abh.open(o.abh_path); !e.empty()) return unreadable(e);
  }
  if (o.minute >= 0) return report_minute(hyd.bytes(), hd.bytes(), o.minute, o.outline, stdout, stderr);

  const HydWalk walk = walk_hyd(hyd.bytes());
  const OutputSetBytes set{hyd.bytes(), hd.bytes(), abh.bytes()};
  if (o.csv) return report_csv(hyd.bytes(), walk, o.outline, stdout, stderr);
  if (o.check) return report_check(walk, set, stdout);
  return report_summary(hyd.bytes(), walk, set, stdout);
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
