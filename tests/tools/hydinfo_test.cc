// The hydinfo program on an output set written by the real converter from a simulated rain day:
// summary and listing against the converter's text file "res", the consistency check on a good set
// and on damaged copies, and the per-minute listing through the header file's index.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::read_text;
using testing::ScratchDir;
using testing::write_file;

// Converts the raw day file V26150_1.ab of a folder; returns the exit status.
int convert(const std::string& dir) {
  return testing::run_program(testing::quorda_exe(), {"V26150_1.ab"}, dir).status;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

std::vector<std::string> fields_of(const std::string& line, char sep = ',') {
  std::vector<std::string> v;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, sep);) v.push_back(f);
  return v;
}

std::vector<uint8_t> bytes_of(const std::string& path) {
  const std::string s = read_file(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

// A rain day from 09:59:30 to 10:02:00 (minutes 599 to 601), simulated and converted once.
struct Day {
  ScratchDir dir;
  std::string set;  // folder of the converted set
  int status = -1;
  std::vector<std::string> res;
  std::vector<uint8_t> hyd;
  HydWalk walk;
};

class Hydinfo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    day_ = new Day;
    Day& d = *day_;
    d.set = d.dir.path() + "day";
    const int sim = testing::run_program(testing::tool_path("rainsim"),
                                         {"--preset", "sample", "--seed", "31", "--start", "09:59:30",
                                          "--duration", "150", "--quiet", "--out", d.set},
                                         d.dir.path())
                        .status;
    if (sim != 0) return;
    d.status = convert(d.set);
    d.res = lines_of(read_text(d.set + "/res"));
    d.hyd = bytes_of(d.set + "/V26150_1.hyd");
    d.walk = walk_hyd(d.hyd);
  }
  static void TearDownTestSuite() {
    delete day_;
    day_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(day_->status, 0) << read_text(day_->set + "/QUORDA.ERR");
    ASSERT_TRUE(day_->walk.ok()) << day_->walk.error;
    ASSERT_GT(day_->res.size(), 100u);
  }

  static Result hydinfo(const std::string& args) {
    Result r;
    const testing::SplitResult run = testing::run_program_split(testing::tool_path("hydinfo"),
                                                                testing::split_words(args), scratch_.path());
    r.status = run.status;
    r.out = run.out;
    r.err = run.err;
    return r;
  }

  // A copy of the set in a fresh folder, to be damaged; returns the base path.
  std::string copy_set(const std::string& name) {
    const std::string to = scratch_.file(name);
    std::filesystem::create_directory(to);
    for (const char* ext : {".hyd", ".hd", ".abh"})
      std::filesystem::copy_file(day_->set + "/V26150_1" + ext, to + "/V26150_1" + ext);
    return to + "/V26150_1";
  }

  static const HydEntry& particle_at_fraction(double f) {
    const auto& recs = day_->walk.records;
    size_t k = static_cast<size_t>(f * static_cast<double>(recs.size()));
    while (recs[k].header) ++k;
    return recs[k];
  }

  static Day* day_;
  static ScratchDir scratch_;
};
Day* Hydinfo::day_ = nullptr;
ScratchDir Hydinfo::scratch_;

TEST_F(Hydinfo, HelpUsageErrorsAndUnreadableFilesGiveStatusTwo) {
  Result r = hydinfo("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* opt : {"--check", "--csv", "--outline", "--minute", "--abh"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  EXPECT_EQ(hydinfo("").status, 2);
  r = hydinfo("--frobnicate " + day_->set + "/V26150_1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown option --frobnicate"), std::string::npos) << r.err;
  r = hydinfo("--minute 1442 " + day_->set + "/V26150_1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("from 0 to 1441, not 1442"), std::string::npos) << r.err;
  EXPECT_EQ(hydinfo("--minute x " + day_->set + "/V26150_1").status, 2);
  EXPECT_EQ(hydinfo("--check --csv " + day_->set + "/V26150_1").status, 2);
  EXPECT_EQ(hydinfo("--outline " + day_->set + "/V26150_1").status, 2);
  r = hydinfo(day_->set + "/V26151_1.hyd");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot read " + day_->set + "/V26151_1.hyd: No such file"), std::string::npos)
      << r.err;
  // The summary needs the index file too.
  const std::string base = copy_set("no-abh");
  std::filesystem::remove(base + ".abh");
  r = hydinfo(base);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(base + ".abh"), std::string::npos) << r.err;
  EXPECT_EQ(hydinfo("--csv " + base).status, 0);  // the listing reads the .hyd file only
  // The index file may lie in another folder (the raw data folder).
  r = hydinfo("--check --abh " + day_->set + "/V26150_1.abh " + base + ".hyd");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(Hydinfo, SummaryCountsTheParticlesOfResAndShowsTheHeaders) {
  for (const std::string& path : {day_->set + "/V26150_1.hyd", day_->set + "/V26150_1"}) {
    Result r = hydinfo(path);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    size_t headers = 0;
    for (const HydEntry& e : day_->walk.records) headers += e.header;
    const std::string counts = "records             " + std::to_string(day_->walk.records.size()) + " (" +
                               std::to_string(day_->res.size()) + " particle records, " +
                               std::to_string(headers) + " main header records)";
    EXPECT_NE(r.out.find(counts), std::string::npos) << r.out;
    // Day 150 of 2026; the first header a minute before the rain.
    EXPECT_NE(r.out.find("main time 2026-05-30 09:58:30 UTC, line_fr 55000.0 lines/s"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("minutes with particles 3 (minute 599 to 601 of the day)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" at 09:59:3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" at 10:0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("consistency         ok\n"), std::string::npos) << r.out;
  }
}

TEST_F(Hydinfo, SummaryMedianDiameterIsTheMedianOfRes) {
  std::vector<double> d;
  for (const std::string& l : day_->res) d.push_back(std::stod(l));
  std::sort(d.begin(), d.end());
  const size_t n = d.size();
  const double median = n % 2 ? d[n / 2] : (d[n / 2 - 1] + d[n / 2]) / 2;
  Result r = hydinfo(day_->set + "/V26150_1");
  const size_t at = r.out.find("median ");
  ASSERT_NE(at, std::string::npos) << r.out;
  // The record keeps the diameter truncated to 0.01 mm.
  EXPECT_NEAR(std::stod(r.out.substr(at + 7)), median - 0.005, 0.006) << r.out;
}

TEST_F(Hydinfo, CsvDiametersAgreeWithResForEveryParticle) {
  Result r = hydinfo("--csv " + day_->set + "/V26150_1");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), day_->res.size() + 1);
  EXPECT_EQ(lines[0].rfind("t1_lines,time_s,eq_diam_mm,vel_m_s,", 0), 0u);
  double prev_t1 = -1;
  std::vector<double> speeds;
  for (size_t i = 0; i < day_->res.size(); ++i) {
    const auto f = fields_of(lines[i + 1]);
    ASSERT_EQ(f.size(), 13u) << lines[i + 1];
    const double res_diam = std::stod(day_->res[i]);
    const double csv_diam = std::stod(f[2]);
    // res prints the diameter to 0.001 mm, the record truncates it to 0.01 mm.
    EXPECT_GE(res_diam - csv_diam, -0.0005) << i;
    EXPECT_LT(res_diam - csv_diam, 0.0105) << i;
    const double t1 = std::stod(f[0]);
    EXPECT_NEAR(std::stod(f[1]), t1 / 55000.0, 1e-5) << i;
    EXPECT_GE(t1, prev_t1) << i;
    prev_t1 = t1;
    speeds.push_back(std::stod(f[3]));
  }
  // Fall speeds in m/s: all positive, the median that of small rain drops.
  std::sort(speeds.begin(), speeds.end());
  EXPECT_GT(speeds.front(), 0.0);
  EXPECT_LT(speeds.back(), 15.0);
  EXPECT_GT(speeds[speeds.size() / 2], 1.5);
  EXPECT_LT(speeds[speeds.size() / 2], 6.0);
}

TEST_F(Hydinfo, OutlineColumnsHoldOneRunPerLineInsideEachCamerasRange) {
  Result r = hydinfo("--csv --outline " + day_->set + "/V26150_1.hyd");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), day_->res.size() + 1);
  EXPECT_NE(lines[0].find(",nbits,outline_a,outline_b"), std::string::npos);
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = fields_of(lines[i]);
    ASSERT_EQ(f.size(), 15u) << lines[i];
    const int line_no = std::stoi(f[6]);
    const int x_min[2] = {std::stoi(f[9]), std::stoi(f[10])};
    int lines_b = 0;
    for (int cam = 0; cam < 2; ++cam) {
      const auto runs = fields_of(f[13 + static_cast<size_t>(cam)], ';');
      if (cam == 0) {
        EXPECT_EQ(static_cast<int>(runs.size()), line_no) << lines[i];
      } else {
        lines_b = static_cast<int>(runs.size());
      }
      int lowest = 1 << 20;
      for (const std::string& run : runs) {
        const auto se = fields_of(run, ':');
        ASSERT_EQ(se.size(), 2u) << lines[i];
        const int s = std::stoi(se[0]), e = std::stoi(se[1]);
        EXPECT_LE(s, e) << lines[i];
        lowest = std::min(lowest, s);
      }
      // x_min is the leftmost pixel of the piece, so some line starts there.
      EXPECT_EQ(lowest, x_min[cam]) << lines[i];
    }
    EXPECT_EQ(static_cast<int8_t>(lines_b - line_no), std::stoi(f[7])) << lines[i];
  }
}

TEST_F(Hydinfo, CheckPassesOnTheConvertersSet) {
  Result r = hydinfo("--check " + day_->set + "/V26150_1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "consistent: " + std::to_string(day_->walk.records.size()) + " records\n");
}

TEST_F(Hydinfo, CheckAcceptsANewSetWithoutRecords) {
  // As the converter creates a set: an empty stream, pos_pix with entry 0 = 0, an index of zeros.
  const std::string base = scratch_.file("new");
  std::vector<uint8_t> hd(kHdHeadSize, 0xFF);
  put_i32(hd.data(), 0);
  put_i16(hd.data() + kHdLastRecordLenOffset, 0);
  write_file(base + ".hyd", std::string());
  write_file(base + ".hd", hd);
  write_file(base + ".abh", std::vector<uint8_t>(kAbhCreatedSize, 0));
  Result r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 0) << r.out;
  r = hydinfo(base);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("particles           0\nconsistency         ok\n"), std::string::npos) << r.out;
}

TEST_F(Hydinfo, CheckPassesOnASetResumedAfterTheRawFileGrew) {
  // The raw file converted while half written, then again when complete: the second run resumes.
  const std::string dir = scratch_.file("grown");
  std::filesystem::create_directory(dir);
  for (const char* f : {"QUORDA.SET", "corrfact.dat"})
    std::filesystem::copy_file(day_->set + "/" + f, dir + "/" + f);
  const std::string raw = read_file(day_->set + "/V26150_1.ab");
  write_file(dir + "/V26150_1.ab", raw.substr(0, raw.size() / 2));
  ASSERT_EQ(convert(dir), 0);
  Result r = hydinfo("--check " + dir + "/V26150_1");
  EXPECT_EQ(r.status, 0) << r.out;
  const size_t half = lines_of(hydinfo("--csv " + dir + "/V26150_1").out).size() - 1;
  EXPECT_LT(half, day_->res.size());
  write_file(dir + "/V26150_1.ab", raw);
  ASSERT_EQ(convert(dir), 0);
  r = hydinfo("--check " + dir + "/V26150_1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(lines_of(hydinfo("--csv " + dir + "/V26150_1").out).size(), day_->res.size() + 1);
}

TEST_F(Hydinfo, CheckNamesAFlippedLengthBitAndATruncatedStream) {
  const HydEntry& e = particle_at_fraction(0.5);
  std::string base = copy_set("flipped");
  std::vector<uint8_t> hyd = day_->hyd;
  hyd[static_cast<size_t>(e.offset)] ^= 0x01;  // an odd length
  write_file(base + ".hyd", hyd);
  Result r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".hyd: record at " + std::to_string(e.offset) + ": particle length " +
                       std::to_string(e.length ^ 1) + " is not a record length\n");
  // The summary reports the same fault and fails too.
  r = hydinfo(base);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("consistency         1 faults:\n.hyd: record at " + std::to_string(e.offset)),
            std::string::npos)
      << r.out;

  base = copy_set("truncated");
  hyd = day_->hyd;
  hyd.resize(hyd.size() - 10);
  write_file(base + ".hyd", hyd);
  r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  const HydEntry& last = day_->walk.records.back();
  EXPECT_EQ(r.out, ".hyd: record at " + std::to_string(last.offset) + ": length " +
                       std::to_string(last.length) + " runs past the end of the stream\n");
  // The listing shows the records before the fault and fails.
  r = hydinfo("--csv " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines_of(r.out).size(), day_->res.size());
  EXPECT_NE(r.err.find("runs past the end"), std::string::npos);
}

TEST_F(Hydinfo, CheckNamesAMovedMinuteEntryAndAWrongLastRecordLength) {
  std::string base = copy_set("moved");
  std::vector<uint8_t> hd = bytes_of(base + ".hd");
  const std::vector<int32_t> pos_pix = read_pos_pix(hd);
  // Minute 600's entry moved back onto the last particle of minute 599.
  int32_t before = -1;
  for (const HydEntry& e : day_->walk.records)
    if (!e.header && e.offset < pos_pix[600]) before = e.offset;
  ASSERT_GT(before, 0);
  put_minute_entry(hd.data(), 600, before);
  write_file(base + ".hd", hd);
  Result r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".hd: pos_pix[600]=" + std::to_string(before) + " points at a particle of minute 599\n");
  // Moved into the middle of a record.
  put_minute_entry(hd.data(), 600, pos_pix[600] + 2);
  write_file(base + ".hd", hd);
  r = hydinfo("--check " + base);
  EXPECT_EQ(r.out,
            ".hd: pos_pix[600]=" + std::to_string(pos_pix[600] + 2) + " is not the offset of a record\n");

  base = copy_set("oldlen");
  hd = bytes_of(base + ".hd");
  const int16_t last_record_len = get_i16(hd.data() + kHdLastRecordLenOffset);
  put_i16(hd.data() + kHdLastRecordLenOffset, static_cast<int16_t>(last_record_len + 2));
  write_file(base + ".hd", hd);
  r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".hd: oldlen " + std::to_string(last_record_len + 2) +
                       ", the last record of the .hyd file is " + std::to_string(last_record_len) +
                       " bytes\n");
}

TEST_F(Hydinfo, CheckNamesTheHeaderFilesMainHeaderRecordsWhenTheyDifferFromTheStream) {
  const std::string base = copy_set("hdrec");
  std::vector<uint8_t> hd = bytes_of(base + ".hd");
  ASSERT_GE(hd.size(), kHdHeadSize + kMainHeaderSize);
  hd[kHdHeadSize + 30] ^= 0x40;  // a byte of HBL in the first record
  write_file(base + ".hd", hd);
  Result r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".hd: main header record 0 differs from the .hyd record at 0\n");
  hd.resize(hd.size() - 1);
  write_file(base + ".hd", hd);
  r = hydinfo("--check " + base);
  EXPECT_NE(r.out.find(".hd: its main header records take"), std::string::npos) << r.out;
}

TEST_F(Hydinfo, CheckNamesAWrongIndexFile) {
  std::string base = copy_set("abhsize");
  std::vector<uint8_t> abh = bytes_of(base + ".abh");
  ASSERT_EQ(abh.size(), kAbhSavedSize);
  abh.resize(abh.size() + 4);
  write_file(base + ".abh", abh);
  Result r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, ".abh: 11548 bytes, not 11540 or 11544\n");

  // The created size without the high word of the last saved line is accepted.
  abh.resize(kAbhCreatedSize);
  write_file(base + ".abh", abh);
  EXPECT_EQ(hydinfo("--check " + base).status, 0);

  abh = bytes_of(day_->set + "/V26150_1.abh");
  const uint32_t last_saved_line = get_u32(abh.data() + kAbhLastSavedLineOffset);
  put_u32(abh.data() + kAbhLastSavedLineOffset, last_saved_line - 1);
  write_file(base + ".abh", abh);
  r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  const HydEntry* last = nullptr;
  for (const HydEntry& e : day_->walk.records)
    if (!e.header) last = &e;
  ASSERT_EQ(static_cast<uint32_t>(last->t1), last_saved_line);
  EXPECT_EQ(r.out, ".abh: lastpix_y " + std::to_string(last_saved_line - 1) +
                       ", the last particle record (at " + std::to_string(last->offset) + ") has t1 " +
                       std::to_string(last->t1) + "\n");

  // A raw-file position of a later minute that lies before an earlier one.
  abh = bytes_of(day_->set + "/V26150_1.abh");
  int set_minute = -1;
  for (int i = kMinutes - 1; i > 0 && set_minute < 0; --i)
    if (get_minute_entry(abh.data() + kAbhMinutePosBOffset, i) != 0) set_minute = i;
  ASSERT_GT(set_minute, 0);
  put_minute_entry(abh.data() + kAbhMinutePosBOffset, set_minute, 1);
  write_file(base + ".abh", abh);
  r = hydinfo("--check " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind(".abh: posb_bf[" + std::to_string(set_minute) + "]=1 lies before posb_bf[", 0), 0u)
      << r.out;
}

TEST_F(Hydinfo, MinuteListsTheRecordsFromItsEntryToTheNextMinutesEntry) {
  const std::string base = day_->set + "/V26150_1";
  const std::vector<int32_t> pos_pix = read_pos_pix(bytes_of(base + ".hd"));
  const auto all = lines_of(hydinfo("--csv " + base).out);
  // The CSV line of every particle record, by offset.
  std::vector<std::pair<int32_t, std::string>> by_offset;
  size_t k = 1;
  for (const HydEntry& e : day_->walk.records)
    if (!e.header) by_offset.emplace_back(e.offset, all[k++]);

  std::vector<std::string> joined;
  for (int m : {599, 600, 601}) {
    Result r = hydinfo("--minute " + std::to_string(m) + " " + base);
    ASSERT_EQ(r.status, 0) << r.err;
    auto got = lines_of(r.out);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], all[0]);
    got.erase(got.begin());
    std::vector<std::string> expected;
    for (const auto& [off, line] : by_offset)
      if (off >= pos_pix[static_cast<size_t>(m)] && (m == 601 || off < pos_pix[static_cast<size_t>(m + 1)]))
        expected.push_back(line);
    EXPECT_EQ(got, expected) << m;
    EXPECT_FALSE(got.empty()) << m;
    for (const std::string& l : got) {
      EXPECT_EQ(static_cast<int>(std::stod(fields_of(l)[1]) / 60), m) << l;
    }
    joined.insert(joined.end(), got.begin(), got.end());
  }
  // The three minutes hold every particle of the day.
  EXPECT_EQ(joined, std::vector<std::string>(all.begin() + 1, all.end()));
  // A minute before the rain shares its entry with the next one: no records. A minute after the
  // last one has no entry.
  EXPECT_EQ(lines_of(hydinfo("--minute 12 " + base).out).size(), 1u);
  EXPECT_EQ(lines_of(hydinfo("--minute 1441 " + base).out).size(), 1u);
}

TEST_F(Hydinfo, MinuteSeeksToItsEntryWithoutReadingTheStreamBefore) {
  const std::string base = copy_set("seek");
  const std::vector<int32_t> pos_pix = read_pos_pix(bytes_of(base + ".hd"));
  const std::string expected = hydinfo("--minute 601 " + base).out;
  // Wreck every byte before minute 601's entry (the main headers' line frequencies are read from the
  // header file).
  std::vector<uint8_t> hyd = day_->hyd;
  std::fill(hyd.begin(), hyd.begin() + pos_pix[601], 0xEE);
  write_file(base + ".hyd", hyd);
  Result r = hydinfo("--minute 601 " + base);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(hydinfo("--check " + base).status, 0);

  // An entry that does not lead to the next one by whole records is a fault.
  std::vector<uint8_t> hd = bytes_of(base + ".hd");
  put_minute_entry(hd.data(), 600, pos_pix[600] + 2);
  write_file(base + ".hd", hd);
  write_file(base + ".hyd", day_->hyd);
  r = hydinfo("--minute 600 " + base);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("hydinfo: .hyd: record at " + std::to_string(pos_pix[600] + 2)), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace quorda
