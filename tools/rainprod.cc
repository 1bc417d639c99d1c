// rainprod: the rain products of one or more converted days, from the output sets' hydrometeor
// streams: per interval the drop size distribution, number concentration, rain rate, liquid water
// content, reflectivity, D_m, D_0, N_w and the rain amount, as a CSV table and a CF NetCDF-4 file.
//
//   rainprod --csv day.csv --nc day.nc scratch/sample/V26150_1
//   rainprod --nc span.nc days/*/V26*_1.hyd
//
// See --help for the options and products/interval_products.h for the formulas.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/version.h"
#include "platform/replace_file.h"
#include "products/day_products.h"
#include "products/products_csv.h"
#include "products/products_netcdf.h"

namespace {

using namespace quorda::products;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Most intervals times diameter classes of one day: each such cell costs some 50 bytes while the
// day is computed (the class's count, weight and its counting error), so a day stays within about
// 220 MB whatever the options.
constexpr double kMaxCellsPerDay = 1 << 22;

const char kHelp[] =
    "usage: rainprod [options] SET [SET ...]\n"
    "Computes the rain products of converted days. SET is the output set of one day, given as\n"
    "dir/V26150_1 or dir/V26150_1.hyd; only its hydrometeor stream (.hyd) is read, which holds the\n"
    "particle records and the main headers. Several sets (one per day) make one table over the span.\n"
    "\n"
    "  --csv FILE          the CSV table, one row per interval ('-' for standard output)\n"
    "  --nc FILE           the CF-1.8 NetCDF-4 file\n"
    "  --interval S        interval length in seconds (default 60)\n"
    "  --tolerance F       largest relative difference of the fall speed from the terminal speed\n"
    "                      9.65 - 10.3 exp(-0.6 D) of a used drop (default 0.5)\n"
    "  --dmin D --dmax D   size range of used drops, mm (default 0.1 10)\n"
    "  --bin-width W       width of the diameter classes, mm (default 0.2)\n"
    "  --bin-max D         upper end of the diameter classes, mm (default 10)\n"
    "  --bin-min D         lower end of the diameter classes and smallest drop N_t counts, mm\n"
    "                      (default 0.4: smaller drops are not counted reliably)\n"
    "  --area paired|shadow|diameter  effective measuring area: where a drop of the particle's\n"
    "                      width lies wholly inside both lines and its two shadows are paired\n"
    "                      (default); field widths less one pixel and the drop's shadow widths;\n"
    "                      or field widths less the equivalent diameter\n"
    "  --edges A0,A1,B0,B1 first and last live pixel of camera A and B (default: found in the\n"
    "                      data per main header; particles reaching them count as edge-cut)\n"
    "  --gap S             a main header after more than S s without data restarts the\n"
    "                      measurement; the silence is missing (default 1.5 x the header spacing,\n"
    "                      at least 600 s; 0: no gaps)\n"
    "  --spread P          N(D) spreads each drop over P local pixel widths (default 0.5; 0: none)\n"
    "  --station FILE      station metadata (key = value lines: site, latitude, longitude,\n"
    "                      altitude, institution, references, ...) for the NetCDF file\n"
    "  --quiet             no summary\n"
    "  --help              this text\n"
    "Columns of the CSV table: time, start_s, end_s, particles, used, edge, size, speed, nt_m-3,\n"
    "r_mm_h, w_g_m-3, z_mm6_m-3, dbz, dm_mm, d0_mm, nw_m-3_mm-1, amount_mm, accumulated_mm,\n"
    "nd_<lower>_<upper> per diameter class (m-3 mm-1), measured_fraction, pixel_a_first,\n"
    "pixel_a_last, pixel_b_first, pixel_b_last, the counting standard errors nt_se, r_se, dbz_se,\n"
    "dm_se and nd_se_<lower>_<upper>. time is the interval's start (the NetCDF time its centre).\n"
    "Intervals outside the measured time (first main header to the end of the data, less gaps)\n"
    "have empty cells.\n"
    "The summary (standard output, or standard error when the table goes there) gives per day the\n"
    "particles, how the filter sorted them, the rain amount and the largest rain rate.\n"
    "Exit status: 0 fine; 1 a set could not be read, was damaged (the products then cover the\n"
    "records before the damage) or an output could not be written; 2 usage error.\n";

struct Options {
  std::vector<std::string> sets;
  std::string csv, nc, station;
  ProductSettings settings;
  bool quiet = false;
};

[[noreturn]] void usage_error(const std::string& msg) {
  std::fprintf(stderr, "rainprod: %s\n(rainprod --help lists the options)\n", msg.c_str());
  std::exit(kExitUsage);
}

double to_double(const std::string& opt, const char* v) {
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(v, &end);
  if (errno != 0 || end == v || *end != '\0' || !std::isfinite(d))
    usage_error("bad number for " + opt + ": " + v);
  return d;
}

// Whether the option is one of those followed by a value.
bool takes_value(const std::string& a) {
  static constexpr const char* kValueOptions[] = {
      "--csv",     "--nc",      "--interval", "--tolerance", "--dmin",   "--dmax",    "--bin-width",
      "--bin-max", "--bin-min", "--edges",    "--gap",       "--spread", "--station", "--area"};
  return std::find(std::begin(kValueOptions), std::end(kValueOptions), a) != std::end(kValueOptions);
}

Options parse(int argc, char** argv) {
  Options o;
  ProductSettings& s = o.settings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(kExitOk);
    }
    if (a == "--version") {
      std::printf("rainprod from %s\n", std::string(quorda::version_text()).c_str());
      std::exit(kExitOk);
    }
    if (a == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      o.sets.push_back(a);
      continue;
    }
    if (!takes_value(a)) usage_error("unknown option " + a);
    if (i + 1 >= argc) usage_error("missing value for " + a);
    const char* v = argv[++i];
    if (a == "--csv") {
      o.csv = v;
    } else if (a == "--nc") {
      o.nc = v;
    } else if (a == "--interval") {
      s.interval_s = to_double(a, v);
    } else if (a == "--tolerance") {
      s.filter.speed_tolerance = to_double(a, v);
    } else if (a == "--dmin") {
      s.filter.d_min_mm = to_double(a, v);
    } else if (a == "--dmax") {
      s.filter.d_max_mm = to_double(a, v);
    } else if (a == "--bin-width") {
      s.bin_width_mm = to_double(a, v);
    } else if (a == "--bin-max") {
      s.bin_max_mm = to_double(a, v);
    } else if (a == "--bin-min") {
      s.bin_min_mm = to_double(a, v);
    } else if (a == "--edges") {
      int e[4];
      char tail = 0;
      if (std::sscanf(v, "%d,%d,%d,%d%c", &e[0], &e[1], &e[2], &e[3], &tail) != 4 || e[0] < 0 || e[2] < 0 ||
          e[1] <= e[0] + 1 || e[3] <= e[2] + 1 || e[1] > 1023 || e[3] > 1023)
        usage_error("--edges takes A_FIRST,A_LAST,B_FIRST,B_LAST with 0 <= first < last - 1 < 1023");
      s.edges = {{e[0], e[2]}, {e[1], e[3]}};
    } else if (a == "--gap") {
      s.gap_s = to_double(a, v);
      if (!(s.gap_s >= 0 && s.gap_s <= 86400)) usage_error("the gap must be 0 to 86400 s");
    } else if (a == "--spread") {
      s.spread_px = to_double(a, v);
      if (!(s.spread_px >= 0 && s.spread_px <= 10)) usage_error("the spread must be 0 to 10 pixels");
    } else if (a == "--station") {
      o.station = v;
    } else if (a == "--area") {
      const std::string r = v;
      if (r == "paired") {
        s.area = AreaRule::kPaired;
      } else if (r == "shadow") {
        s.area = AreaRule::kShadow;
      } else if (r == "diameter") {
        s.area = AreaRule::kDiameter;
      } else {
        usage_error("--area takes paired, shadow or diameter");
      }
    } else {
      usage_error("unknown option " + a);
    }
  }
  if (o.sets.empty()) usage_error("no output set given");
  if (!(s.interval_s >= 1 && s.interval_s <= 86400)) usage_error("the interval must be 1 to 86400 s");
  if (!(s.filter.speed_tolerance > 0)) usage_error("the tolerance must be positive");
  if (!(s.filter.d_min_mm >= 0 && s.filter.d_max_mm > s.filter.d_min_mm))
    usage_error("need 0 <= dmin < dmax");
  if (!(s.bin_min_mm >= 0 && s.bin_min_mm < s.bin_max_mm)) usage_error("need 0 <= bin-min < bin-max");
  if (!(s.bin_width_mm >= 0.01 && s.bin_max_mm > 0 && s.bin_max_mm / s.bin_width_mm <= 10000))
    usage_error("need a bin width of at least 0.01 mm and at most 10000 classes");
  const double cells = std::ceil(86400 / s.interval_s) * std::ceil(s.bin_max_mm / s.bin_width_mm);
  if (cells > kMaxCellsPerDay)
    usage_error("the intervals of a day times the diameter classes must stay within " +
                std::to_string(static_cast<long>(kMaxCellsPerDay)) + " (these options give " +
                std::to_string(static_cast<long>(cells)) + "): a longer interval or fewer classes");
  return o;
}

std::string hyd_path(const std::string& set) {
  if (set.size() > 4 && set.compare(set.size() - 4, 4, ".hyd") == 0) return set;
  return set + ".hyd";
}

void summary(FILE* out, const std::string& set, const DayProducts& d) {
  const IntervalRow* peak = nullptr;
  for (const IntervalRow& r : d.rows)
    if (peak == nullptr || r.p.rain_rate > peak->p.rain_rate) peak = &r;
  const ParticleCounts& c = d.total;
  std::fprintf(out, "%s  %s\n", iso_time(d.midnight).substr(0, 10).c_str(), set.c_str());
  std::fprintf(out, "  particles      %lld (used %lld, edge %lld, size %lld, speed %lld)\n",
               static_cast<long long>(c.seen), static_cast<long long>(c.used), static_cast<long long>(c.edge),
               static_cast<long long>(c.size), static_cast<long long>(c.speed));
  std::fprintf(out, "  rain amount    %.3f mm\n", d.amount_mm);
  if (peak != nullptr && peak->p.rain_rate > 0)
    std::fprintf(out, "  largest rate   %.2f mm/h at %s\n", peak->p.rain_rate,
                 iso_time(d.midnight + static_cast<int64_t>(peak->start_s)).substr(11, 8).c_str());
}

// The creation time written into the NetCDF history: SOURCE_DATE_EPOCH (seconds since 1970) when
// it is set to a whole number, so that the files of two runs can be made byte-identical; now
// otherwise.
int64_t creation_time() {
  const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
  if (fixed != nullptr && *fixed != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long t = std::strtoll(fixed, &end, 10);
    if (*end == '\0' && errno == 0 && t >= 0) return t;
  }
  return static_cast<int64_t>(std::time(nullptr));
}

// Writes a product file under its temporary name with `write`, then puts it in place whole: the
// file's name shows the previous file (or none) until the new one is complete and durable.
template <typename Write>
bool write_whole(const std::string& path, Write write, std::string* error) {
  const std::string temp = quorda::replacement_path(path);
  std::remove(temp.c_str());  // a leftover of a killed run, or a link planted there: never followed
  if (!write(temp, error)) {
    std::remove(temp.c_str());
    return false;
  }
  return quorda::replace_file(temp, path, error);
}

bool write_csv(const std::vector<const DayProducts*>& days, FILE* f) {
  bool ok = f != nullptr;
  for (size_t i = 0; ok && i < days.size(); ++i) ok = write_products_csv(*days[i], f, i == 0);
  return ok;
}

}  // namespace

// The folder a product file goes into must be there before the day is computed: the NetCDF library
// reports a missing one as a refused permission.
bool folder_missing(const std::string& file) {
  if (file.empty()) return false;
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  std::error_code ec;
  if (folder.empty() || std::filesystem::is_directory(folder, ec)) return false;
  std::fprintf(stderr, "rainprod: cannot write %s: the folder %s does not exist\n", file.c_str(),
               folder.string().c_str());
  return true;
}

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (folder_missing(o.csv) || folder_missing(o.nc)) return kExitFailed;
  int status = kExitOk;
  std::vector<DayProducts> days;
  std::vector<std::string> names;
  for (const std::string& set : o.sets) {
    DayProducts d;
    std::string error, warning;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(hyd_path(set), ec) && std::filesystem::exists(hyd_path(set), ec)) {
      error = hyd_path(set) + ": not a regular file";  // a FIFO or a device: reading it would not end
    } else if (read_day_products(hyd_path(set), o.settings, &d, &error, &warning)) {
      error.clear();
    }
    if (!error.empty()) {
      std::fprintf(stderr, "rainprod: %s: %s\n", set.c_str(), error.c_str());
      status = kExitFailed;
      continue;
    }
    if (!warning.empty()) {
      std::fprintf(stderr, "rainprod: %s: %s\n", set.c_str(), warning.c_str());
      status = kExitFailed;
    }
    for (const std::string& note : d.notes)
      std::fprintf(stderr, "rainprod: %s: %s\n", set.c_str(), note.c_str());
    days.push_back(std::move(d));
    names.push_back(set);
  }
  if (days.empty()) return kExitFailed;
  // Days in order of time; a day given twice is an error.
  std::vector<size_t> order(days.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return days[a].midnight < days[b].midnight; });
  std::vector<const DayProducts*> sorted;
  for (size_t i : order) {
    if (!sorted.empty() && sorted.back()->midnight == days[i].midnight) {
      std::fprintf(stderr, "rainprod: %s: a second set of the day %s\n", names[i].c_str(),
                   iso_time(days[i].midnight).substr(0, 10).c_str());
      return kExitFailed;
    }
    sorted.push_back(&days[i]);
  }

  const bool csv_to_stdout = o.csv == "-";
  if (!o.csv.empty()) {
    std::string error;
    const bool ok = csv_to_stdout ? write_csv(sorted, stdout)
                                  : write_whole(
                                        o.csv,
                                        [&](const std::string& temp, std::string* e) {
                                          FILE* f = std::fopen(temp.c_str(), "w");
                                          const bool written = write_csv(sorted, f);
                                          const bool closed = f != nullptr && std::fclose(f) == 0;
                                          if (!written || !closed) *e = std::strerror(errno);
                                          return written && closed;
                                        },
                                        &error);
    if (!ok) {
      std::fprintf(stderr, "rainprod: cannot write %s: %s\n", o.csv.c_str(),
                   error.empty() ? std::strerror(errno) : error.c_str());
      status = kExitFailed;
    }
  }
  StationMetadata station;
  std::string station_error;
  if (!o.station.empty() && !read_station_metadata(o.station, &station, &station_error)) {
    std::fprintf(stderr, "rainprod: %s\n", station_error.c_str());
    return kExitFailed;
  }
  if (!o.nc.empty()) {
    std::string history = iso_time(creation_time()) + ": rainprod";
    for (int i = 1; i < argc; ++i) history += std::string(" ") + argv[i];
    std::string error;
    const auto write_nc = [&](const std::string& temp, std::string* e) {
      return write_products_netcdf(sorted, temp, history, e, station);
    };
    if (!write_whole(o.nc, write_nc, &error)) {
      std::fprintf(stderr, "rainprod: cannot write %s: %s\n", o.nc.c_str(), error.c_str());
      status = kExitFailed;
    }
  }
  if (!o.quiet) {
    FILE* out = csv_to_stdout ? stderr : stdout;
    for (size_t i : order) summary(out, names[i], days[i]);
  }
  return status;
}
