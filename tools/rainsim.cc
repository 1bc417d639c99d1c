// rainsim: simulates a rain day as the two-camera instrument would record it, and writes the raw
// day file, the converter's QUORDA.SET and corrfact.dat for the simulated instrument, and a truth
// table with one row per particle.
//
//   rainsim --preset sample --out scratch/sample
//   rainsim --preset heavy --seed 7 --out scratch/heavy
//
// See --help for every option. The same options and seed always give the same files.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/version.h"
#include "sim/rain_day.h"
#include "sim/setup_files.h"
#include "sim/truth_csv.h"

namespace {

using quorda::sim::DayConfig;

const char kHelpIntro[] =
    "usage: rainsim [options]\n"
    "Simulates a rain day seen by the two line-scan cameras and writes, into the output folder,\n"
    "the raw day file V<yy><ddd>_1.ab, QUORDA.SET, corrfact.dat and the truth table.\n"
    "\n"
    "Defaults are those of the sample preset.\n";

struct Options {
  DayConfig day;
  std::string out = ".";
  std::string truth;
  std::string raw_path = "./";
  std::string hyd_path = "./";
  double header_second = -1;
  bool quiet = false;
  bool force = false;  // replace files of the output folder that exist already
};

void preset_sample(Options& o) {
  o.day.rain_start = 10 * 3600;
  o.day.rain_end = o.day.rain_start + 180;
  o.day.rain.rate_mm_h = 4;
  o.day.rain.law = quorda::sim::SizeLaw::kExponential;
  o.day.clutter_rate = 0.5;
  o.day.clutter_cameras = 2;
  o.day.header_every = 60;
  o.day.status_every = 30;
}

void preset_heavy(Options& o) {
  o.day.rain_start = 6 * 3600;
  o.day.rain_end = o.day.rain_start + 5 * 3600;
  o.day.rain.rate_mm_h = 45;
  o.day.rain.law = quorda::sim::SizeLaw::kGamma;
  o.day.rain.mu = 2;
  o.day.clutter_rate = 2;
  o.day.clutter_cameras = 3;
  o.day.header_every = 1800;
  o.day.status_every = 10;
}

[[noreturn]] void usage_error(const std::string& msg) {
  std::fprintf(stderr, "rainsim: %s\n(rainsim --help lists the options)\n", msg.c_str());
  std::exit(2);
}

double to_double(const std::string& opt, const char* v) {
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(v, &end);
  if (errno != 0 || end == v || *end != '\0' || !std::isfinite(d))
    usage_error("bad number for " + opt + ": " + v);
  return d;
}

long long to_int(const std::string& opt, const char* v) {
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v, &end, 10);
  // No integer option is negative; every one but the seed fits an int.
  const long long top = opt == "--seed" ? LLONG_MAX : INT_MAX;
  if (errno != 0 || end == v || *end != '\0' || n < 0 || n > top)
    usage_error("bad integer for " + opt + ": " + v);
  return n;
}

double to_clock(const std::string& opt, const char* v) {
  int h = 0, m = 0, s = 0;
  char tail = 0;
  if (std::sscanf(v, "%d:%d:%d%c", &h, &m, &s, &tail) != 3 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 ||
      s > 59)
    usage_error("bad time of day for " + opt + ": " + v);
  return h * 3600.0 + m * 60.0 + s;
}

// What the parser fills: the options, and the rain's duration, which becomes its end once the
// start is known.
struct Parsed {
  Options o;
  double duration = 0;
  double gap_duration = 0;
};

void dead_pixels(Parsed& p, const std::string& opt, const char* v, int cam) {
  int first = 0, last = 0;
  char tail = 0;
  if (std::sscanf(v, "%d,%d%c", &first, &last, &tail) != 2 || first < 0 || last < 0 || first > 100 ||
      last > 100)
    usage_error(opt + " takes F,L: two pixel counts of 0 to 100");
  p.o.day.inst.dead_first[cam] = first;
  p.o.day.inst.dead_last[cam] = last;
}

using Setter = void (*)(Parsed& p, const std::string& opt, const char* value);

// One option: its name, whether a value follows it, what it sets, and the lines of --help it
// begins (with the heading of a group before its first option; empty when the option shares
// the line of the one before). --help prints the help lines in the order of the table.
struct OptionSpec {
  const char* name;
  bool takes_value;
  Setter set;
  const char* help;
};

void set_preset(Parsed& p, const std::string&, const char* v) {
  const std::string name = v;
  if (name == "sample") {
    preset_sample(p.o);
  } else if (name == "heavy") {
    preset_heavy(p.o);
  } else {
    usage_error("unknown preset " + name);
  }
  p.duration = p.o.day.rain_end - p.o.day.rain_start;
}

void set_distribution(Parsed& p, const std::string&, const char* v) {
  const std::string s = v;
  if (s == "exp") {
    p.o.day.rain.law = quorda::sim::SizeLaw::kExponential;
  } else if (s == "gamma") {
    p.o.day.rain.law = quorda::sim::SizeLaw::kGamma;
  } else {
    usage_error("unknown distribution " + s);
  }
}

void set_clutter_cameras(Parsed& p, const std::string&, const char* v) {
  const std::string s = v;
  int& cams = p.o.day.clutter_cameras;
  cams = s == "a" ? 1 : s == "b" ? 2 : s == "ab" ? 3 : 0;
  if (cams == 0) usage_error("--clutter-cam takes a, b or ab");
}

// Setters of a number or a text: `Field` is a lambda that names the field of the parse.
template <typename Field>
constexpr Setter real(Field) {
  return [](Parsed& p, const std::string& a, const char* v) { Field{}(p) = to_double(a, v); };
}
template <typename Field>
constexpr Setter whole(Field) {
  return [](Parsed& p, const std::string& a, const char* v) { Field{}(p) = static_cast<int>(to_int(a, v)); };
}
template <typename Field>
constexpr Setter text(Field) {
  return [](Parsed& p, const std::string&, const char* v) { Field{}(p) = v; };
}

constexpr OptionSpec kOptions[] = {
    {"--preset", true, set_preset,
     "  --preset NAME       sample: a few thousand drops in three minutes of moderate rain;\n"
     "                      heavy: over a million drops in five hours of heavy rain\n"
     "                      (options after it change single values)\n"},
    {"--seed", true,
     [](Parsed& p, const std::string& a, const char* v) {
       p.o.day.seed = static_cast<uint64_t>(to_int(a, v));
     },
     "  --seed N            seed of the random generator (default 1)\n"},
    {"--out", true, text([](Parsed& p) -> auto& { return p.o.out; }),
     "  --out DIR           output folder, created if missing (default .)\n"},
    {"--truth", true, text([](Parsed& p) -> auto& { return p.o.truth; }),
     "  --truth FILE        truth table path (default DIR/truth.csv)\n"},
    {"--year", true, whole([](Parsed& p) -> auto& { return p.o.day.year; }),
     "  --year Y --day D    measuring day: full year and day of the year (default 2026 150)\n"},
    {"--day", true, whole([](Parsed& p) -> auto& { return p.o.day.day_of_year; }), ""},
    {"--start", true,
     [](Parsed& p, const std::string& a, const char* v) { p.o.day.rain_start = to_clock(a, v); },
     "Rain:\n"
     "  --start HH:MM:SS    start of the rain (default 10:00:00)\n"},
    {"--duration", true, real([](Parsed& p) -> auto& { return p.duration; }),
     "  --duration S        seconds of rain (default 180)\n"},
    {"--rate", true, real([](Parsed& p) -> auto& { return p.o.day.rain.rate_mm_h; }),
     "  --rate R            rain rate, mm/h (default 4)\n"},
    {"--dist", true, set_distribution,
     "  --dist exp|gamma    size distribution: exponential (N0 8000) or gamma (default exp)\n"},
    {"--mu", true, real([](Parsed& p) -> auto& { return p.o.day.rain.mu; }),
     "  --mu M              gamma shape (default 2)\n"},
    {"--dmin", true, real([](Parsed& p) -> auto& { return p.o.day.rain.d_min; }),
     "  --dmin D --dmax D   smallest and largest drop diameter, mm (default 0.3 8)\n"},
    {"--dmax", true, real([](Parsed& p) -> auto& { return p.o.day.rain.d_max; }), ""},
    {"--scatter", true, real([](Parsed& p) -> auto& { return p.o.day.speed_scatter; }),
     "  --scatter F         relative scatter of fall speeds (default 0.03)\n"},
    {"--clutter", true, real([](Parsed& p) -> auto& { return p.o.day.clutter_rate; }),
     "  --clutter R         clutter particles per second that only one camera sees (default 0)\n"},
    {"--clutter-cam", true, set_clutter_cameras,
     "  --clutter-cam C     a, b or ab: the cameras that see clutter (default b)\n"},
    {"--margin", true, real([](Parsed& p) -> auto& { return p.o.day.margin_px; }),
     "  --margin PX         drops fall over the field widened by PX pixels beyond both ends of\n"
     "                      both lines, so that drops centred outside it shadow its edge pixels\n"
     "                      (default 0: drop centres inside the field)\n"},
    {"--gap", true,
     [](Parsed& p, const std::string& a, const char* v) { p.o.day.gap_start = to_clock(a, v); },
     "  --gap HH:MM:SS --gap-duration S  the instrument records nothing for S seconds from then\n"
     "                      and starts again with a main header (default: no gap)\n"},
    {"--gap-duration", true, real([](Parsed& p) -> auto& { return p.gap_duration; }), ""},
    {"--dead-a", true, [](Parsed& p, const std::string& a, const char* v) { dead_pixels(p, a, v, 0); },
     "  --dead-a F,L --dead-b F,L  pixels at the start and end of camera A's, B's line that\n"
     "                      never shadow (default 0,0)\n"},
    {"--dead-b", true, [](Parsed& p, const std::string& a, const char* v) { dead_pixels(p, a, v, 1); }, ""},
    {"--line-fr", true, real([](Parsed& p) -> auto& { return p.o.day.inst.line_fr; }),
     "Instrument:\n"
     "  --line-fr F         lines per second (default 55000)\n"},
    {"--centre-pix", true, whole([](Parsed& p) -> auto& { return p.o.day.inst.centre_pix; }),
     "  --centre-pix C      centre pixel; a line has 2C pixels (default 316)\n"},
    {"--xs-a", true, real([](Parsed& p) -> auto& { return p.o.day.inst.xs1; }),
     "  --xs-a S --xs-b S   mm per pixel at the centre of camera A, B (default 0.153 0.168)\n"},
    {"--xs-b", true, real([](Parsed& p) -> auto& { return p.o.day.inst.xs2; }), ""},
    {"--dist-a", true, real([](Parsed& p) -> auto& { return p.o.day.inst.l1; }),
     "  --dist-a L --dist-b L  camera distances from the centre, mm (default 250 250)\n"},
    {"--dist-b", true, real([](Parsed& p) -> auto& { return p.o.day.inst.l2; }), ""},
    {"--hbl", true, real([](Parsed& p) -> auto& { return p.o.day.inst.hbl; }),
     "  --hbl H --hbr H --hfr H  light plane distances at three corners, mm (default 6.2 6.3 6.4)\n"},
    {"--hbr", true, real([](Parsed& p) -> auto& { return p.o.day.inst.hbr; }), ""},
    {"--hfr", true, real([](Parsed& p) -> auto& { return p.o.day.inst.hfr; }), ""},
    {"--header-second", true, real([](Parsed& p) -> auto& { return p.o.header_second; }),
     "Records:\n"
     "  --header-second S   second of the day of the first main header (default: start - 60)\n"},
    {"--header-every", true, real([](Parsed& p) -> auto& { return p.o.day.header_every; }),
     "  --header-every S    seconds between later main headers, 0 for none (default 60)\n"},
    {"--status-every", true, real([](Parsed& p) -> auto& { return p.o.day.status_every; }),
     "  --status-every S    seconds between status records (kind 7), 0 for none (default 30)\n"},
    {"--slice", true, whole([](Parsed& p) -> auto& { return p.o.day.slice_lines; }),
     "  --slice N           lines per time slice of the blocks (default 5500)\n"},
    {"--block-lines", true, whole([](Parsed& p) -> auto& { return p.o.day.block_lines; }),
     "  --block-lines N     lines after which a block ends at the next gap (default 1000)\n"},
    {"--raw-path", true, text([](Parsed& p) -> auto& { return p.o.raw_path; }),
     "Settings file values:\n"
     "  --raw-path P --hyd-path P  RAW_PATH and HYD_PATH of QUORDA.SET (default ./)\n"},
    {"--hyd-path", true, text([](Parsed& p) -> auto& { return p.o.hyd_path; }), ""},
    {"--force", false, [](Parsed& p, const std::string&, const char*) { p.o.force = true; },
     "  --force             replace QUORDA.SET, corrfact.dat, the raw file and the truth file where\n"
     "                      they exist (without it rainsim refuses and writes nothing)\n"},
    {"--quiet", false, [](Parsed& p, const std::string&, const char*) { p.o.quiet = true; },
     "  --quiet             no summary\n"},
};

constexpr double kSecondsPerDay = 86400;
// Years whose calendar seconds fit the 32-bit unsigned main time of the headers.
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2105;
// Centre pixels a line record's 10-bit positions can hold.
constexpr int kMinCentrePix = 8;
constexpr int kMaxCentrePix = 511;
// Longest RAW_PATH or HYD_PATH value written into QUORDA.SET.
constexpr size_t kMaxSettingsDir = 19;
// Bounds of the numbers beyond any instrument or rain: a day within them is simulated in bounded
// time and memory.
constexpr double kMaxDropMm = 50;
constexpr double kMaxRate = 1000;
constexpr double kMinMu = -3;  // the gamma law's slope scales with 3.67 + mu
constexpr double kMaxMu = 20;
constexpr double kMaxClutter = 10000;
constexpr double kMaxLineFr = 1e6;
constexpr double kMaxScale = 10;
constexpr double kMaxLength = 1e5;

bool within(double x, double lo, double hi) {
  return x >= lo && x <= hi;
}

// The options with the rain's end and the first header's second filled in, once every value
// has been checked; a value out of range is a usage error.
Options checked(Parsed p) {
  Options o = std::move(p.o);
  const double duration = p.duration;
  auto& d = o.day;
  d.rain_end = d.rain_start + duration;
  if (!(p.gap_duration >= 0 && p.gap_duration <= kSecondsPerDay))
    usage_error("the gap must last 0 to 86400 s");
  d.gap_end = d.gap_start + p.gap_duration;
  if (p.gap_duration > 0 && !(d.gap_start > d.rain_start && d.gap_end < d.rain_end))
    usage_error("the gap must lie within the rain");
  d.header_second = o.header_second >= 0 ? o.header_second : std::max(0.0, d.rain_start - 60);
  if (d.year < kFirstYear || d.year > kLastYear) usage_error("the year must lie in 1970 to 2105");
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.day_of_year < 1 || d.day_of_year > (leap ? 366 : 365)) usage_error("no such day in that year");
  if (duration <= 0 || d.rain_end > kSecondsPerDay) usage_error("the rain must end within the day");
  if (d.header_second > d.rain_start) usage_error("the first main header must come before the rain");
  if (d.inst.line_fr <= 0 || d.inst.centre_pix < kMinCentrePix || d.inst.centre_pix > kMaxCentrePix)
    usage_error("line frequency must be positive and the centre pixel 8 to 511");
  if (d.inst.xs1 <= 0 || d.inst.xs2 <= 0 || d.inst.l1 <= 0 || d.inst.l2 <= 0)
    usage_error("pixel scales and camera distances must be positive");
  if (d.inst.hbl <= 0 || d.inst.hbr <= 0 || d.inst.hfr <= 0) usage_error("plane distances must be positive");
  if (d.rain.d_min <= 0 || d.rain.d_max <= d.rain.d_min || d.rain.d_max > kMaxDropMm)
    usage_error("need 0 < dmin < dmax <= 50 mm");
  if (!within(d.rain.rate_mm_h, 0, kMaxRate) || !within(d.rain.mu, kMinMu, kMaxMu) ||
      !within(d.speed_scatter, 0, 1) || !within(d.clutter_rate, 0, kMaxClutter))
    usage_error("need a rate of 0 to 1000 mm/h, mu -3 to 20, scatter 0 to 1, clutter 0 to 10000 a second");
  if (d.inst.line_fr > kMaxLineFr || d.inst.xs1 > kMaxScale || d.inst.xs2 > kMaxScale ||
      d.inst.l1 > kMaxLength || d.inst.l2 > kMaxLength || d.inst.hbl > kMaxLength ||
      d.inst.hbr > kMaxLength || d.inst.hfr > kMaxLength)
    usage_error("need at most 1000000 lines a second, 10 mm per pixel and distances of 100000 mm");
  if (!within(d.header_every, 0, kSecondsPerDay) || !within(d.status_every, 0, kSecondsPerDay))
    usage_error("header and status intervals must be 0 to 86400 s");
  if (!(d.margin_px >= 0 && d.margin_px <= 4 * d.inst.centre_pix))
    usage_error("the margin must be 0 to 4C pixels");
  for (int cam = 0; cam < 2; ++cam)
    if (d.inst.dead_first[cam] + d.inst.dead_last[cam] > d.inst.pixels() / 2)
      usage_error("dead pixels must leave at least half of a line");
  if (d.slice_lines < 100 || d.block_lines < 10 || d.block_lines > 1400)
    usage_error("slice must be at least 100 lines and block-lines 10 to 1400");
  if (o.raw_path.size() > kMaxSettingsDir || o.hyd_path.size() > kMaxSettingsDir ||
      o.raw_path.find(' ') != std::string::npos || o.hyd_path.find(' ') != std::string::npos)
    usage_error("settings directories must be blank-free and at most 19 characters");
  return o;
}

[[noreturn]] void print_help() {
  std::fputs(kHelpIntro, stdout);
  for (const OptionSpec& option : kOptions) std::fputs(option.help, stdout);
  std::exit(0);
}

const OptionSpec* find_option(const std::string& name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

Options parse(int argc, char** argv) {
  Parsed p;
  preset_sample(p.o);  // the defaults
  p.duration = p.o.day.rain_end - p.o.day.rain_start;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") print_help();
    if (a == "--version") {
      std::printf("rainsim from %s\n", std::string(quorda::version_text()).c_str());
      std::exit(0);
    }
    const OptionSpec* option = find_option(a);
    if (option == nullptr) usage_error("unknown option " + a);
    if (option != nullptr && !option->takes_value) {
      option->set(p, a, nullptr);
      continue;
    }
    if (i + 1 >= argc) usage_error("missing value for " + a);
    const char* v = argv[++i];
    option->set(p, a, v);
  }
  return checked(std::move(p));
}

class FileSink : public quorda::sim::ByteSink {
 public:
  explicit FileSink(FILE* f) : f_(f) {}
  void write(const uint8_t* data, size_t n) override {
    if (std::fwrite(data, 1, n, f_) != n) failed = true;
  }
  bool failed = false;

 private:
  FILE* f_;
};

bool write_text(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

// The files this run writes; on a failure the ones it made are removed again, and so is the
// output folder when the run made it.
struct Made {
  std::vector<std::string> paths;
  std::string folder;
};

[[noreturn]] void fail(const Made& made, const std::string& what) {
  std::fprintf(stderr, "rainsim: %s: %s\n", what.c_str(), std::strerror(errno));
  std::error_code ec;
  for (const std::string& path : made.paths) std::filesystem::remove(path, ec);
  if (!made.folder.empty()) std::filesystem::remove(made.folder, ec);
  std::exit(1);
}

// Refuses, before anything is written, outputs whose folder is missing and files that exist
// already (unless --force).
void check_outputs(const std::vector<std::string>& paths, bool force, const Made& made) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const std::string& path : paths) {
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
      errno = ENOENT;
      fail(made, "no folder " + folder.string() + " for " + path);
    }
    if (!force && fs::exists(fs::symlink_status(path, ec))) {
      std::fprintf(stderr, "rainsim: %s exists: not replaced, nothing was written (--force replaces it)\n",
                   path.c_str());
      std::exit(1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const DayConfig& day = o.day;
  Made made;
  std::error_code ec;
  if (!std::filesystem::exists(o.out, ec)) made.folder = o.out;
  std::filesystem::create_directories(o.out, ec);
  if (ec) {
    std::fprintf(stderr, "rainsim: cannot create %s: %s\n", o.out.c_str(), ec.message().c_str());
    return 1;
  }
  const std::string dir = o.out.back() == '/' ? o.out : o.out + "/";

  char raw_name[32];
  std::snprintf(raw_name, sizeof raw_name, "V%02d%03d_1.ab", day.year % 100, day.day_of_year);
  const std::string raw_path = dir + raw_name;
  const std::string truth_path = o.truth.empty() ? dir + "truth.csv" : o.truth;
  const std::vector<std::string> outputs = {dir + "QUORDA.SET", dir + "corrfact.dat", raw_path, truth_path};
  check_outputs(outputs, o.force, made);
  made.paths = outputs;

  if (!write_text(dir + "QUORDA.SET", quorda::sim::quorda_set_text(day.inst, o.raw_path, o.hyd_path)))
    fail(made, "cannot write " + dir + "QUORDA.SET");
  if (!write_text(dir + "corrfact.dat", quorda::sim::corrfact_text({})))
    fail(made, "cannot write " + dir + "corrfact.dat");

  FILE* raw = std::fopen(raw_path.c_str(), "wb");
  if (raw == nullptr) fail(made, "cannot create " + raw_path);
  FILE* truth = std::fopen(truth_path.c_str(), "w");
  if (truth == nullptr) fail(made, "cannot create " + truth_path);
  std::vector<char> raw_buf(1 << 20), truth_buf(1 << 20);
  std::setvbuf(raw, raw_buf.data(), _IOFBF, raw_buf.size());
  std::setvbuf(truth, truth_buf.data(), _IOFBF, truth_buf.size());

  const auto t0 = std::chrono::steady_clock::now();
  FileSink sink(raw);
  quorda::sim::TruthCsvWriter writer(truth);
  const quorda::sim::DayStats st = quorda::sim::simulate_day(day, sink, writer);
  const bool raw_ok = !sink.failed && std::fclose(raw) == 0;
  const bool truth_ok = !std::ferror(truth) && std::fclose(truth) == 0;
  if (!raw_ok) fail(made, "cannot write " + raw_path);
  if (!truth_ok) fail(made, "cannot write " + truth_path);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  if (!o.quiet) {
    std::printf("raw file    %s (%.1f MB)\n", raw_path.c_str(), static_cast<double>(st.raw_bytes) / 1e6);
    std::printf("truth       %s\n", truth_path.c_str());
    std::printf("drops       %" PRIu64 " (%" PRIu64 " merged with another, %" PRIu64 " cut by a block)\n",
                st.drops, st.merged, st.cut);
    std::printf("clutter     %" PRIu64 "\n", st.clutter);
    std::printf("lines       A %" PRIu64 " in %" PRIu64 " blocks, B %" PRIu64 " in %" PRIu64 " blocks\n",
                st.lines[0], st.blocks[0], st.lines[1], st.blocks[1]);
    std::printf("records     %" PRIu64 " main headers, %" PRIu64 " status\n", st.headers, st.status_records);
    std::printf("simulated   in %.2f s\n", secs);
  }
  return 0;
}
