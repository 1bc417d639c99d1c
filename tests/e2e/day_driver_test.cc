// End-to-end runs of the converter on raw files made with the encoder: whole days, resumed runs,
// growing files, damaged files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include "base/bytes.h"
#include "format/hyd_walker.h"
#include "format/main_header.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "format/raw_record.h"
#include "support/day_files.h"
#include "support/process.h"
#include "support/raw_day.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::RawDayBuilder;
using testing::ScratchDir;
using testing::SettingsValues;
using testing::TestParticle;

constexpr const char* kRawName = "V10082_1.ab";
constexpr uint32_t kMidnight = 86400u * 14690u;  // a day's midnight as calendar seconds

RawMainHeader example_header(double line_fr = 20000, uint32_t second_of_day = 0) {
  RawMainHeader h;
  h.line_fr = line_fr;
  h.centre_pix = 256;
  h.l0_1 = 250;
  h.l0_2 = 250;
  h.ratio_den = 3;
  h.ratio_num = 5;
  h.valid_since = kMidnight + second_of_day;
  return h;
}

// A conversion folder: settings, neutral correction file and the raw file.
class Day {
 public:
  explicit Day(const std::vector<uint8_t>& raw, const SettingsValues& s = {}) {
    testing::write_file(dir.file("QUORDA.SET"), testing::settings_text(s));
    testing::write_file(dir.file("corrfact.dat"), testing::neutral_corrfact());
    testing::write_file(dir.file(kRawName), raw);
  }
  testing::ProcResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{kRawName};
    args.insert(args.end(), extra.begin(), extra.end());
    return testing::run_program(testing::quorda_exe(), args, dir.path());
  }
  std::string file(const std::string& name) { return testing::read_file(dir.file(name)); }
  std::string hyd() { return file("V10082_1.hyd"); }
  std::string hd() { return file("V10082_1.hd"); }
  std::string abh() { return file("V10082_1.abh"); }
  // A text file the converter wrote, with this system's line ends made '\n'.
  std::string text(const std::string& name) { return testing::read_text(dir.file(name)); }
  std::string err() { return text("QUORDA.ERR"); }

  ScratchDir dir;
};

// Particles spread over `minutes` minutes, separated so that none touch, matched by construction.
std::vector<TestParticle> particle_stream(int count, double line_fr, double start_line, double spacing,
                                          uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<TestParticle> ps;
  for (int i = 0; i < count; ++i) {
    TestParticle p;
    p.y_a = std::floor(start_line + i * spacing + static_cast<double>(rng() % 40));
    int16_t w = static_cast<int16_t>(4 + rng() % 20);
    p.x_a = static_cast<int16_t>(40 + rng() % 400);
    p.w_a = w;
    p.lines_a = static_cast<int>(3 + rng() % 30);
    p.y_b = p.y_a + 20 + rng() % 10;
    p.x_b = static_cast<int16_t>(40 + rng() % 400);
    p.w_b = static_cast<int16_t>(w + static_cast<int>(rng() % 3) - 1);
    p.lines_b = p.lines_a + static_cast<int>(rng() % 3);
    ps.push_back(p);
  }
  (void)line_fr;
  return ps;
}

void expect_consistent_stream(Day& day, double line_fr = 20000) {
  std::string hyd = day.hyd();
  std::string hd = day.hd();
  HydWalk walk = walk_hyd({reinterpret_cast<const uint8_t*>(hyd.data()), hyd.size()});
  EXPECT_TRUE(walk.ok()) << walk.error;
  std::vector<int32_t> pos_pix = read_pos_pix({reinterpret_cast<const uint8_t*>(hd.data()), hd.size()});
  EXPECT_EQ(check_pos_pix(walk, pos_pix, line_fr), "");
}

TEST(DayDriver, EmptyRawFileCompletesWithFreshFileHeads) {
  Day day({});
  auto r = day.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(day.hyd().size(), 0u);
  std::string hd = day.hd();
  ASSERT_EQ(hd.size(), kHdHeadSize);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(hd.data());
  EXPECT_EQ(get_minute_entry(p, 0), 0);
  for (int m = 1; m < kMinutes; ++m) ASSERT_EQ(get_minute_entry(p, m), -1) << m;
  // The end-of-data save rewrote the index file's head: it is a saved one now.
  std::string abh = day.abh();
  ASSERT_EQ(abh.size(), kAbhSavedSize);
  EXPECT_EQ(abh, std::string(kAbhSavedSize, '\0'));
  EXPECT_NE(day.err().find("\nQPX starts at "), std::string::npos);
}

TEST(DayDriver, ParticleSeenByBothCamerasGivesItsLineAndExactRecord) {
  RawDayBuilder b;
  b.header(0, example_header());
  b.particle({1000, 246, 20, 10, 1020, 246, 20, 10});
  b.particle({3000, 100, 10, 5, 3020, 100, 10, 5});  // moves camera A far enough on
  SettingsValues s;
  s.hbl = 6.0;
  s.hbr = 6.2;
  s.hfr = 6.4;
  s.xscal_a = s.xscal_b = 0.15;
  Day day(b.build(), s);
  auto r = day.run({"/c"});
  ASSERT_EQ(r.status, 0) << r.out << day.err();
  EXPECT_EQ(
      day.text("res"),
      " 3.472  6.20000 6.195 6.195 6.195 6.205 6.205 6.205  3.0975  3.0000  3.1025  3.0000  1.0325  1.0342  "
      "1.0333\n");

  std::string hyd = day.hyd();
  ASSERT_EQ(hyd.size(), 74u + 56u);
  const uint8_t* h = reinterpret_cast<const uint8_t*>(hyd.data());
  EXPECT_EQ(get_i16(h), -74);
  EXPECT_EQ(get_i16(h + 2), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(h + 4), "V10082_1.hyd");

  uint8_t want[56] = {};
  put_u16(want + 0, 0x2838);
  put_i16(want + 2, 74);
  put_f64(want + 4, 1000.0);
  put_i16(want + 12, 347);
  put_i16(want + 14, 10);
  put_i16(want + 16, 0);
  put_i16(want + 18, 20);
  put_i16(want + 20, 246);
  put_i16(want + 22, 246);
  put_i16(want + 24, 3100);
  put_i16(want + 26, 1500);
  put_i16(want + 28, 1500);
  // Outline: ten 0, ten 20, ten 0, ten 20, five bits each, least significant bit first.
  for (int i = 0; i < 40; ++i) {
    uint32_t v = (i / 10) % 2 == 1 ? 20u : 0u;
    for (int bit = 0; bit < 5; ++bit) {
      if ((v >> bit) & 1u) {
        int pos = i * 5 + bit;
        want[30 + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
      }
    }
  }
  EXPECT_EQ(std::memcmp(h + 74, want, 56), 0);
  expect_consistent_stream(day);
}

TEST(DayDriver, NoMainHeaderBeforeTheFirstParticleEndsTheRun) {
  RawDayBuilder b;
  b.particle({1000, 246, 20, 10, 1020, 246, 20, 10});
  b.particle({3000, 100, 10, 5, 3020, 100, 10, 5});
  Day day(b.build());
  auto r = day.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(day.err().find("eval_dr 01: no main header in file ?!? \n"), std::string::npos) << day.err();
}

TEST(DayDriver, CameraAOnlyWritesTheHeaderAndNoParticle) {
  RawDayBuilder b;
  b.header(0, example_header());
  for (int i = 0; i < 20; ++i) b.particle({1000.0 + 3000 * i, 100, 10, 5, 0, 0, 0, 0});
  Day day(b.build());
  auto r = day.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(day.hyd().size(), kMainHeaderSize);
  EXPECT_EQ(day.hd().size(), kHdHeadSize + kMainHeaderSize);
}

TEST(DayDriver, OtherRecordKindsArePassedOver) {
  auto make = [](bool with_others) {
    RawDayBuilder b;
    b.header(0, example_header());
    for (const auto& p : particle_stream(40, 20000, 2000, 900, 7)) b.particle(p);
    if (with_others) {
      b.record(5000, 0, std::vector<uint8_t>(17, 0xAB));
      b.record(9000, 7, std::vector<uint8_t>(300, 0x01));
      b.record(9000, 7, {});
    }
    return b.build();
  };
  Day plain(make(false));
  Day others(make(true));
  ASSERT_EQ(plain.run().status, 0);
  ASSERT_EQ(others.run().status, 0);
  EXPECT_GT(plain.hyd().size(), 1000u);
  EXPECT_EQ(plain.hyd(), others.hyd());
  EXPECT_EQ(plain.file("res"), others.file("res"));
}

// A day of several minutes with a second main header in it.
std::vector<uint8_t> resume_day(int particles, uint32_t seed) {
  RawDayBuilder b(3000);
  b.header(0, example_header(20000, 0));
  double spacing = 15000;  // about five minutes at 20000 lines a second
  auto ps = particle_stream(particles, 20000, 5000, spacing, seed);
  double middle = ps[ps.size() / 2].y_a - 100;
  b.header(middle, example_header(20000, static_cast<uint32_t>(middle / 20000) + 0));
  for (const auto& p : ps) b.particle(p);
  return b.build();
}

// Offsets of the record heads of a raw file image.
std::vector<size_t> record_offsets(const std::vector<uint8_t>& raw) {
  std::vector<size_t> offs;
  size_t pos = 0;
  while (pos + 4 <= raw.size()) {
    offs.push_back(pos);
    pos += 4 + static_cast<size_t>(get_i16(&raw[pos + 2]));
  }
  return offs;
}

// Whether hydinfo --check finds the set of the day consistent.
int check_set(Day& day) {
  return testing::run_program(testing::tool_path("hydinfo"), {"--check", day.dir.file("V10082_1")},
                              day.dir.path())
      .status;
}

// A camera A block of three lines from `y` on, as a raw record.
std::vector<uint8_t> line_block_record(double y) {
  std::vector<LineRecord> lines(3);
  for (size_t i = 0; i < lines.size(); ++i) {
    lines[i].y_count = y + static_cast<double>(i);
    lines[i].n_runs = 1;
    lines[i].runs[0] = {100, 110};
  }
  std::vector<uint8_t> rec;
  append_record(rec, kKindLinesA, encode_line_blocks(lines)[0]);
  return rec;
}

// One block whose line numbers fall amid a day is stepped over: the day is converted as if it were
// not there, and the block is reported with the raw file and its position.
TEST(DayDriver, ABlockWhoseLinesFallIsSteppedOverAndTheRestConverted) {
  const std::vector<uint8_t> raw = resume_day(200, 7);
  Day clean(raw);
  ASSERT_EQ(clean.run().status, 0) << clean.err();
  const size_t at = record_offsets(raw)[record_offsets(raw).size() / 2];
  std::vector<uint8_t> damaged = raw;
  const std::vector<uint8_t> block = line_block_record(1000);
  damaged.insert(damaged.begin() + static_cast<long>(at), block.begin(), block.end());
  Day day(damaged);
  ASSERT_EQ(day.run().status, 0) << day.err();
  const std::string said = std::string(kRawName) + ": camera A, block at byte " + std::to_string(at);
  EXPECT_NE(day.err().find(said + ": its line numbers fall below "), std::string::npos) << day.err();
  EXPECT_EQ(day.hyd(), clean.hyd());
  EXPECT_EQ(day.file("res"), clean.file("res"));
  EXPECT_EQ(check_set(day), 0);
}

// Line numbers that go back for good end the run, but the particles before are saved: a rerun
// keeps them and stops at the same place, and both leave a consistent set.
TEST(DayDriver, LineNumbersGoingBackForGoodEndTheRunWithTheParticlesBeforeSaved) {
  const std::vector<uint8_t> raw = resume_day(200, 9);
  const size_t half = record_offsets(raw)[record_offsets(raw).size() / 2];
  std::vector<uint8_t> part(raw.begin(), raw.begin() + static_cast<long>(half));
  Day whole_part(part);
  ASSERT_EQ(whole_part.run().status, 0) << whole_part.err();
  std::vector<uint8_t> twice = part;
  twice.insert(twice.end(), part.begin(), part.end());
  Day day(twice);
  ASSERT_EQ(day.run().status, 1);
  EXPECT_NE(day.err().find("neg. time jump in A \n"), std::string::npos) << day.err();
  EXPECT_NE(day.err().find(std::string(kRawName) + ": the line numbers of camera A go back at byte " +
                           std::to_string(half + kRecordHeadSize + kRawMainHeaderSize) + " and stay back"),
            std::string::npos)
      << day.err();
  const std::string first = day.hyd();
  EXPECT_GT(first.size(), whole_part.hyd().size() / 2);
  EXPECT_EQ(whole_part.hyd().compare(0, first.size(), first), 0);  // what one run of the part writes
  EXPECT_EQ(check_set(day), 0);
  ASSERT_EQ(day.run().status, 1);
  EXPECT_EQ(day.hyd().compare(0, first.size(), first), 0);
  EXPECT_EQ(whole_part.hyd().compare(0, day.hyd().size(), day.hyd()), 0);
  EXPECT_EQ(check_set(day), 0);
}

// A run that ends right after a main header leaves heads that count the header's record.
TEST(DayDriver, ARunEndingRightAfterAMainHeaderLeavesAConsistentSet) {
  std::vector<uint8_t> raw;
  append_record(raw, kKindMainHeader, RawDayBuilder::header_bytes(example_header()));
  const std::vector<uint8_t> block = line_block_record(0);  // line 0 never rises
  for (int i = 0; i < 2; ++i) raw.insert(raw.end(), block.begin(), block.end());
  Day day(raw);
  ASSERT_EQ(day.run().status, 1);
  EXPECT_EQ(day.hyd().size(), kMainHeaderSize);
  EXPECT_EQ(check_set(day), 0);
}

TEST(DayDriver, ResumedRunContinuesTheFilesAsIfItHadNeverStopped) {
  std::vector<uint8_t> raw = resume_day(400, 11);
  Day whole(raw);
  ASSERT_EQ(whole.run().status, 0) << whole.err();
  std::string whole_hyd = whole.hyd();
  HydWalk walk = walk_hyd({reinterpret_cast<const uint8_t*>(whole_hyd.data()), whole_hyd.size()});
  size_t headers = 0;
  for (const HydEntry& e : walk.records) headers += e.header;
  EXPECT_EQ(headers, 2u);
  EXPECT_GT(walk.records.size(), 390u);  // nearly every particle is matched and written
  std::vector<size_t> offs = record_offsets(raw);
  for (double frac : {0.3, 0.55, 0.8}) {
    size_t cut = offs[static_cast<size_t>(static_cast<double>(offs.size()) * frac)];
    Day parts(std::vector<uint8_t>(raw.begin(), raw.begin() + static_cast<long>(cut)));
    ASSERT_EQ(parts.run().status, 0) << parts.err();
    testing::write_file(parts.dir.file(kRawName), raw);
    ASSERT_EQ(parts.run().status, 0) << parts.err();
    EXPECT_EQ(parts.hyd(), whole.hyd()) << "cut at " << cut;
    EXPECT_EQ(parts.hd(), whole.hd()) << "cut at " << cut;
    EXPECT_EQ(parts.abh(), whole.abh()) << "cut at " << cut;
    expect_consistent_stream(parts);
  }
  expect_consistent_stream(whole);
}

TEST(DayDriver, GrowingRawFileEndsLikeOneRunOverTheWholeFile) {
  std::vector<uint8_t> raw = resume_day(300, 23);
  Day whole(raw);
  ASSERT_EQ(whole.run().status, 0);

  Day growing(std::vector<uint8_t>(raw.begin(), raw.begin() + 4096));
  std::vector<size_t> offs = record_offsets(raw);
  std::string path = growing.dir.file(kRawName);
  std::string log = growing.dir.file("run.out");
  testing::write_file(path, std::vector<uint8_t>{});
  testing::ProgramHandle pid =
      testing::start_program(testing::quorda_exe(), {kRawName}, growing.dir.path(), log);
  // Append the records in steps while the converter runs.
  {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    size_t written = 0;
    for (size_t i = 0; i < offs.size(); i += 25) {
      size_t upto = i + 25 < offs.size() ? offs[i + 25] : raw.size();
      f.write(reinterpret_cast<const char*>(raw.data() + written),
              static_cast<std::streamsize>(upto - written));
      f.flush();
      written = upto;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ASSERT_EQ(testing::wait_program(pid), 0);
  ASSERT_EQ(growing.run().status, 0) << growing.err();
  EXPECT_EQ(growing.hyd(), whole.hyd());
  EXPECT_EQ(growing.hd(), whole.hd());
  EXPECT_EQ(growing.abh(), whole.abh());
}

// Damaged raw files end without crash or hang; every cursor stops.
TEST(DayDriver, DamagedRawFilesEndCleanly) {
  std::vector<uint8_t> raw = resume_day(60, 5);
  std::vector<size_t> offs = record_offsets(raw);
  size_t mid = offs[offs.size() / 2];
  std::vector<std::vector<uint8_t>> cases;
  cases.emplace_back(raw.begin(), raw.begin() + static_cast<long>(mid + 3));   // cut inside a head
  cases.emplace_back(raw.begin(), raw.begin() + static_cast<long>(mid + 20));  // cut inside a payload
  {
    auto neg = raw;
    put_i16(&neg[mid + 2], -9);
    cases.push_back(neg);
  }
  {
    auto longer = raw;
    put_i16(&longer[mid + 2], 32767);
    cases.push_back(longer);
  }
  std::mt19937 rng(99);
  for (int k = 0; k < 4; ++k) {
    auto noisy = raw;
    for (int i = 0; i < 30; ++i) noisy[rng() % noisy.size()] = static_cast<uint8_t>(rng());
    cases.push_back(noisy);
  }
  std::vector<uint8_t> random_bytes(20000);
  for (auto& c : random_bytes) c = static_cast<uint8_t>(rng());
  cases.push_back(random_bytes);
  for (size_t i = 0; i < cases.size(); ++i) {
    Day day(cases[i]);
    auto r = day.run();
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "case " << i << " status " << r.status << "\n"
                                                << day.err();
  }
}

}  // namespace
}  // namespace quorda
