// The rainprod program on output sets written by the real converter from simulated rain days: the
// CSV table against its own summary, the NetCDF file read back with ncdump and with xarray and
// compared with the table, a span of two days, and the exit status of bad calls and damaged sets.
// A build without the NetCDF library (the Windows one) checks everything but the NetCDF file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "products/products_netcdf.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using products::netcdf_available;
using testing::read_file;
using testing::read_text;
using testing::ScratchDir;

const std::string kRainprod = testing::tool_path("rainprod");
const std::string kPython = "/usr/bin/python3";
const std::string kXarrayCheck =
    (std::filesystem::path(__FILE__).parent_path() / "rainprod_xarray_check.py").string();
constexpr const char* kNoNetcdf = "this build writes no NetCDF files";

// A command of the POSIX shell, for the NetCDF readers (ncdump, Python).
int run_shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
#ifdef _WIN32
  return st;
#else
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
}

// Runs a program with the blank-separated arguments (file names hold no blank here); its
// standard output and standard error go to the file `out` (the null device when empty).
int run(const std::string& exe, const std::string& args, const std::string& out = "",
        const std::string& cwd = "") {
  return testing::wait_program(testing::start_program(exe, testing::split_words(args), cwd,
                                                      out.empty() ? std::string(kNullDevice) : out));
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string f; std::getline(in, f, sep);) v.push_back(f);
  return v;
}

// Simulates and converts one day into dir/day<doy>; returns the set's base path or "".
std::string converted_day(const ScratchDir& dir, int doy, const std::string& start, int seconds,
                          const std::string& more = "") {
  const std::string set = dir.file("day" + std::to_string(doy));
  if (run(testing::tool_path("rainsim"), "--preset sample --seed 5 --day " + std::to_string(doy) +
                                             " --start " + start + " --duration " + std::to_string(seconds) +
                                             " --quiet --out " + set + more) != 0)
    return "";
  char name[32];
  std::snprintf(name, sizeof name, "V26%03d_1", doy);
  if (run(testing::quorda_exe(), std::string(name) + ".ab", set + "/console.txt", set) != 0) return "";
  return set + "/" + name;
}

class Rainprod : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    set_ = new std::string(converted_day(scratch_, 150, "09:59:30", 150));
    if (set_->empty()) return;
    const std::string nc = netcdf_available() ? " --nc " + scratch_.file("day.nc") : "";
    status_ =
        run(kRainprod, "--csv " + scratch_.file("day.csv") + nc + " " + *set_, scratch_.file("summary"));
  }
  static void TearDownTestSuite() {
    delete set_;
    set_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(set_->empty()) << "simulating or converting the day failed";
    ASSERT_EQ(status_, 0) << read_file(scratch_.file("summary"));
  }
  static std::vector<std::vector<std::string>> table() {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : split(read_text(scratch_.file("day.csv")), '\n'))
      rows.push_back(split(line, ','));
    return rows;
  }
  static int column(const std::vector<std::string>& title, const std::string& name) {
    for (size_t i = 0; i < title.size(); ++i)
      if (title[i] == name) return static_cast<int>(i);
    return -1;
  }

  static std::string* set_;
  static int status_;
  static ScratchDir scratch_;
};
std::string* Rainprod::set_ = nullptr;
int Rainprod::status_ = -1;
ScratchDir Rainprod::scratch_;

TEST_F(Rainprod, TableRowsAddUpToTheSummarysRainAmount) {
  const auto rows = table();
  ASSERT_EQ(rows.size(), 1441u);  // title and 1440 minutes
  const auto& title = rows[0];
  const int amount = column(title, "amount_mm"), acc = column(title, "accumulated_mm");
  const int seen = column(title, "particles"), used = column(title, "used"), r = column(title, "r_mm_h");
  ASSERT_GE(amount, 0);
  ASSERT_GE(acc, 0);
  EXPECT_EQ(column(title, "nd_0.4_0.6"), 18);  // the classes begin at 0.4 mm
  EXPECT_EQ(column(title, "nd_9.8_10"), 18 + 47);
  const int fraction = column(title, "measured_fraction");
  ASSERT_GE(fraction, 0);
  double sum = 0;
  long particles = 0, used_sum = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size() + (rows[i].back().empty() ? 1 : 0), title.size()) << "row " << i;
    // Measured from the first main header (09:58:30) to the last drop (about 10:02:00): every
    // other minute is missing, not dry.
    const bool measured = i >= 599 && i <= 603;
    if (!measured || i == 603) {
      if (rows[i][fraction] == "0") {
        for (int c : {seen, r, amount, acc})
          EXPECT_TRUE(rows[i][static_cast<size_t>(c)].empty()) << "row " << i;
        continue;
      }
    }
    ASSERT_TRUE(measured) << "row " << i << " " << rows[i][fraction];
    EXPECT_EQ(rows[i][fraction], i == 599 ? "0.5" : i < 602 ? "1" : rows[i][fraction]);
    sum += std::stod(rows[i][amount]);
    particles += std::stol(rows[i][seen]);
    used_sum += std::stol(rows[i][used]);
    EXPECT_NEAR(std::stod(rows[i][acc]), sum, 1e-5 * sum + 1e-9) << "row " << i;
  }
  EXPECT_EQ(rows[601][0], "2026-05-30T10:00:00Z");
  EXPECT_GT(std::stod(rows[601][r]), 1.0);  // the sample preset rains 4 mm/h
  EXPECT_LT(std::stod(rows[601][r]), 10.0);
  EXPECT_GT(used_sum, particles * 9 / 10);
  const std::string summary = read_text(scratch_.file("summary"));
  char line[64];
  std::snprintf(line, sizeof line, "rain amount    %.3f mm", sum);
  EXPECT_NE(summary.find(line), std::string::npos) << summary;
  EXPECT_NE(
      summary.find("particles      " + std::to_string(particles) + " (used " + std::to_string(used_sum)),
      std::string::npos)
      << summary;
}

TEST_F(Rainprod, NcdumpShowsTheConventionsAndTheValuesOfTheTable) {
  if (!netcdf_available()) GTEST_SKIP() << kNoNetcdf;
  const std::string nc = scratch_.file("day.nc");
  ASSERT_EQ(run_shell("ncdump -h " + nc + " >" + scratch_.file("head.txt")), 0);
  const std::string head = read_file(scratch_.file("head.txt"));
  for (const char* s :
       {"time = 1440 ;", "diameter = 48 ;", "nv = 2 ;", ":Conventions = \"CF-1.8\" ;",
        "rainfall_rate:standard_name = \"rainfall_rate\" ;", "rainfall_rate:units = \"mm h-1\" ;",
        "equivalent_reflectivity_factor:standard_name = \"equivalent_reflectivity_factor\" ;",
        "time:units = \"seconds since 2026-05-30 00:00:00\" ;", "time:bounds = \"time_bnds\" ;",
        "diameter:bounds = \"diameter_bnds\" ;", ":pixels_per_line = 632LL ;",
        ":filter_speed_tolerance = 0.5 ;", ":source = \"quorda rain products",
        ":time_coverage_start = \"2026-05-30T00:00:00Z\" ;",
        ":time_coverage_end = \"2026-05-31T00:00:00Z\" ;"})
    EXPECT_NE(head.find(s), std::string::npos) << s << "\n" << head;
  // The rain rates as ncdump prints them equal the table's.
  ASSERT_EQ(run_shell("ncdump -p 9,17 -v rainfall_rate " + nc + " >" + scratch_.file("r.txt")), 0);
  std::string r = read_file(scratch_.file("r.txt"));
  r = r.substr(r.find("rainfall_rate =") + 15);
  r = r.substr(0, r.find(';'));
  std::vector<double> dumped;
  for (const std::string& f : split(r, ','))  // "_": the fill value of an interval not measured
    dumped.push_back(f.find('_') != std::string::npos ? NAN : std::stod(f));
  const auto rows = table();
  const int rc = column(rows[0], "r_mm_h");
  ASSERT_EQ(dumped.size(), rows.size() - 1);
  int rainy = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(std::isnan(dumped[i - 1]), rows[i][rc].empty()) << "interval " << i - 1;
    if (rows[i][rc].empty()) continue;
    const double t = std::stod(rows[i][rc]);
    EXPECT_NEAR(dumped[i - 1], t, 1e-5 * t + 1e-12) << "interval " << i - 1;
    if (t > 0) ++rainy;
  }
  EXPECT_GE(rainy, 3);
  // Station metadata: global attributes, the CF position scalars and a history with its time.
  const std::string station = scratch_.file("station.txt"), with = scratch_.file("station.nc");
  testing::write_file(station,
                      "# test site\nsite = Test field\nlatitude = 47.5\nlongitude = 11.25\naltitude = 620\n");
  ASSERT_EQ(run(kRainprod, "--quiet --station " + station + " --nc " + with + " " + *set_), 0);
  ASSERT_EQ(run_shell("ncdump -v lat,lon,alt " + with + " >" + scratch_.file("st.txt")), 0);
  const std::string st = read_file(scratch_.file("st.txt"));
  for (const char* s : {":site = \"Test field\" ;", "lat:standard_name = \"latitude\" ;", "lat = 47.5 ;",
                        "lon = 11.25 ;", "alt = 620 ;", ":history = \"20", "Z: rainprod --quiet --station"})
    EXPECT_NE(st.find(s), std::string::npos) << s << "\n" << st;
  testing::write_file(station, "latitude = 91\nlongitude = 0\n");
  EXPECT_EQ(run(kRainprod, "--quiet --station " + station + " --nc " + with + " " + *set_), 1);
}

TEST_F(Rainprod, XarrayReadsTheFileAndAgreesWithTheTable) {
  if (!netcdf_available()) GTEST_SKIP() << kNoNetcdf;
  if (run_shell(kPython + " -c 'import xarray, netCDF4' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-xarray and python3-netcdf4 are not installed";
  const std::string out = scratch_.file("xarray.txt");
  EXPECT_EQ(run_shell(kPython + " " + kXarrayCheck + " " + scratch_.file("day.nc") + " " +
                      scratch_.file("day.csv") + " >" + out + " 2>&1"),
            0)
      << read_file(out);
  EXPECT_NE(read_file(out).find("checked 1440 intervals, 48 diameter classes"), std::string::npos)
      << read_file(out);
}

// Width and height of a PNG image from its IHDR chunk; 0, 0 when the bytes are not a PNG.
std::pair<uint32_t, uint32_t> png_size(const std::string& b) {
  if (b.size() < 24 || b.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || b.compare(12, 4, "IHDR") != 0)
    return {0, 0};
  auto be32 = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8) | static_cast<uint8_t>(b[at + 3]);
  };
  return {be32(16), be32(20)};
}

TEST_F(Rainprod, PlotScriptDrawsTheThreeFiguresOfTheDay) {
  if (!netcdf_available()) GTEST_SKIP() << kNoNetcdf;
  if (run_shell(kPython + " -c 'import xarray, netCDF4, matplotlib' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-xarray, python3-netcdf4 and python3-matplotlib are not installed";
  const std::string script =
      (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "scripts/plot_day.py")
          .string();
  const std::string out = scratch_.file("plots");
  ASSERT_EQ(run_shell(kPython + " " + script + " " + scratch_.file("day.nc") + " --out " + out + " >" +
                      scratch_.file("plot.txt") + " 2>&1"),
            0)
      << read_file(scratch_.file("plot.txt"));
  const struct {
    const char* name;
    uint32_t width, height;
  } figures[] = {{"day_vd.png", 960, 720}, {"day_nd.png", 1200, 600}, {"day_rain.png", 1200, 600}};
  for (const auto& f : figures) {
    const std::string bytes = read_file(out + "/" + f.name);
    // A drawn figure with axes, colour map and labels compresses to tens of kilobytes; an empty
    // canvas to a few.
    EXPECT_GT(bytes.size(), 20000u) << f.name;
    EXPECT_LT(bytes.size(), 2000000u) << f.name;
    const auto size = png_size(bytes);
    EXPECT_EQ(size.first, f.width) << f.name;
    EXPECT_EQ(size.second, f.height) << f.name;
  }
  EXPECT_NE(run_shell(kPython + " " + script + " " + scratch_.file("nothing.nc") + " >/dev/null 2>&1"), 0);
}

TEST_F(Rainprod, TwoDaysMakeOneSpan) {
  const std::string second = converted_day(scratch_, 151, "00:00:30", 30);
  ASSERT_FALSE(second.empty());
  const std::string nc = scratch_.file("span.nc"), csv = scratch_.file("span.csv");
  // Given out of order: the span is still in order of time.
  const std::string nc_option = netcdf_available() ? " --nc " + nc : "";
  ASSERT_EQ(
      run(kRainprod, "--quiet --interval 600" + nc_option + " --csv " + csv + " " + second + " " + *set_), 0);
  const auto rows = split(read_text(csv), '\n');
  ASSERT_EQ(rows.size(), 1u + 2 * 144);
  EXPECT_EQ(rows[1].substr(0, 20), "2026-05-30T00:00:00Z");
  EXPECT_EQ(rows[145].substr(0, 20), "2026-05-31T00:00:00Z");
  // The same day twice is refused.
  EXPECT_EQ(run(kRainprod, "--quiet --csv " + scratch_.file("twice.csv") + " " + *set_ + " " + *set_), 1);
  if (netcdf_available()) {
    ASSERT_EQ(run_shell("ncdump -v time " + nc + " >" + scratch_.file("t.txt")), 0);
    const std::string t = read_file(scratch_.file("t.txt"));
    EXPECT_NE(t.find("time = 288 ;"), std::string::npos);
    EXPECT_NE(t.find("time = 300, 900,"), std::string::npos) << t.substr(t.find("data:"));
    EXPECT_NE(t.find("86700, 87300,"), std::string::npos);  // the second day's first intervals
    EXPECT_NE(t.find(":time_coverage_start = \"2026-05-30T00:00:00Z\" ;"), std::string::npos);
    EXPECT_NE(t.find(":time_coverage_end = \"2026-06-01T00:00:00Z\" ;"), std::string::npos);
  }
}

// An instrument whose end pixels never shadow and which stops recording for 15 minutes: the live
// pixels are found, the drops they cut are flagged, the gap is missing and adds no rain.
TEST_F(Rainprod, DeadEndPixelsAndARecordingGap) {
  const std::string set = converted_day(scratch_, 152, "10:00:00", 1500,
                                        " --rate 1 --margin 40 --dead-a 1,1 --dead-b 2,1 --gap 10:05:00 "
                                        "--gap-duration 900");
  ASSERT_FALSE(set.empty());
  const std::string csv = scratch_.file("dead.csv"), err = scratch_.file("dead.err");
  ASSERT_EQ(run(kRainprod, "--csv " + csv + " " + set, err), 0) << read_file(err);
  EXPECT_NE(read_file(err).find("camera A 1..630, camera B 2..630, not the header's 0..631"),
            std::string::npos)
      << read_file(err);
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : split(read_text(csv), '\n')) rows.push_back(split(line, ','));
  const auto& title = rows[0];
  const int fraction = column(title, "measured_fraction"), edge = column(title, "edge");
  const int amount = column(title, "amount_mm"), first_b = column(title, "pixel_b_first");
  long edges = 0;
  double sum = 0;
  for (size_t i = 601; i <= 625; ++i) {  // 10:00 to 10:24
    const bool gap = i >= 606 && i < 621;
    EXPECT_EQ(rows[i][fraction] == "0", gap) << "row " << i << " " << rows[i][fraction];
    EXPECT_EQ(rows[i][amount].empty(), gap) << "row " << i;
    if (gap) continue;
    EXPECT_EQ(rows[i][first_b], "2");
    edges += std::stol(rows[i][edge]);
    sum += std::stod(rows[i][amount]);
  }
  EXPECT_GT(edges, 20);  // about 1.5 % of some 6000 records
  EXPECT_NEAR(std::stod(rows[625][column(title, "accumulated_mm")]), sum, 1e-5 * sum);
  // The same edges given by hand change nothing; narrower ones cut more drops.
  const std::string narrow = scratch_.file("narrow.csv");
  ASSERT_EQ(run(kRainprod, "--quiet --edges 5,626,5,626 --csv " + narrow + " " + set, err), 0);
  EXPECT_GT(std::stol(split(split(read_text(narrow), '\n')[601], ',')[static_cast<size_t>(edge)]),
            std::stol(rows[601][edge]));
}

TEST_F(Rainprod, BadCallsAndDamagedSetsAreReported) {
  EXPECT_EQ(run(kRainprod, ""), 2);
  EXPECT_EQ(run(kRainprod, "--interval 0 " + *set_), 2);
  EXPECT_EQ(run(kRainprod, "--area square " + *set_), 2);
  EXPECT_EQ(run(kRainprod, "--frobnicate " + *set_), 2);
  for (const char* bad : {"--edges 5,3,0,631", "--edges 1,2,3", "--gap -1", "--spread nan", "--spread 11"})
    EXPECT_EQ(run(kRainprod, std::string(bad) + " " + *set_), 2) << bad;
  EXPECT_EQ(run(kRainprod, "--station " + scratch_.file("no-station") + " --csv " + scratch_.file("s.csv") +
                               " " + *set_),
            1);
  EXPECT_EQ(run(kRainprod, scratch_.file("nothing")), 1);
  // A stream cut in the middle of a record: products of what comes before, status 1.
  const std::string cut = scratch_.file("cut.hyd");
  std::string bytes = read_file(*set_ + ".hyd");
  bytes.resize(bytes.size() * 2 / 3);
  testing::write_file(cut, bytes);
  const std::string err = scratch_.file("cut.err");
  EXPECT_EQ(run(kRainprod, "--quiet --csv " + scratch_.file("cut.csv") + " " + cut, err), 1);
  EXPECT_NE(read_file(err).find("hydrometeor stream damaged"), std::string::npos) << read_file(err);
  EXPECT_EQ(split(read_text(scratch_.file("cut.csv")), '\n').size(), 1441u);
  // An output file that cannot be written (without the NetCDF library, no NetCDF file can).
  EXPECT_EQ(run(kRainprod, "--quiet --csv " + scratch_.file("nowhere/x.csv") + " " + *set_), 1);
  EXPECT_EQ(run(kRainprod, "--quiet --nc " + scratch_.file("nowhere/x.nc") + " " + *set_), 1);
}

}  // namespace
}  // namespace quorda
