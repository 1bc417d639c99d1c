// The checking walker over the hydrometeor stream and its per-minute index.
#include "format/hyd_walker.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/main_header.h"
#include "measure/pack_particle.h"

namespace quorda {
namespace {

constexpr double kLineFr = 100.0;
constexpr double kMinute = kLineFr * 60;

// Builds a stream record by record, each record's len_prev linked to the one before.
struct Stream {
  Stream& header(double line_fr) {
    MainHeader h;
    h.len_prev = prev;
    h.line_fr = line_fr;
    size_t at = bytes.size();
    bytes.resize(at + kMainHeaderSize);
    encode_main_header(h, bytes.data() + at);
    prev = static_cast<int16_t>(kMainHeaderSize);
    return *this;
  }
  Stream& particle(double t1, int len = 40, int nbits = 2) {
    size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(len), 0);
    put_u16(bytes.data() + at, static_cast<uint16_t>((nbits << 11) | len));
    put_i16(bytes.data() + at + pixhead::kLenPrev, prev);
    put_f64(bytes.data() + at + pixhead::kT1, t1);
    prev = static_cast<int16_t>(len);
    return *this;
  }
  std::vector<uint8_t> bytes;
  int16_t prev = 0;
};

TEST(WalkHyd, FollowsHeadersAndParticlesBothWays) {
  Stream s;
  s.header(kLineFr).particle(10.0, 34, 1).particle(20.0, 2046, 10).header(2 * kLineFr).particle(30.0);
  HydWalk w = walk_hyd(s.bytes);
  ASSERT_TRUE(w.ok()) << w.error;
  ASSERT_EQ(w.records.size(), 5u);
  EXPECT_TRUE(w.records[0].header);
  EXPECT_EQ(w.records[0].line_fr, kLineFr);
  EXPECT_EQ(w.records[1].offset, 74);
  EXPECT_EQ(w.records[1].nbits, 1);
  EXPECT_EQ(w.records[2].length, 2046);
  EXPECT_EQ(w.records[2].len_prev, 34);
  EXPECT_EQ(w.records[3].offset, 74 + 34 + 2046);
  EXPECT_EQ(w.records[4].t1, 30.0);
  EXPECT_TRUE(walk_hyd({}).ok());
}

TEST(WalkHyd, ReportsBrokenFraming) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
  };
  const std::vector<Case> cases = {
      {"len_prev of the second record", [](auto& b) { put_i16(b.data() + 40 + 2, 38); }},
      {"len_prev of the first record", [](auto& b) { put_i16(b.data() + 2, 74); }},
      {"cut in the last record", [](auto& b) { b.resize(b.size() - 1); }},
      {"cut in a record head", [](auto& b) { b.resize(b.size() - 37); }},
      {"negative first word", [](auto& b) { put_i16(b.data(), -40); }},
      {"length below the particle head", [](auto& b) { put_u16(b.data(), (2 << 11) | 28); }},
      {"odd length", [](auto& b) { put_u16(b.data(), (2 << 11) | 41); }},
      {"nbits 0", [](auto& b) { put_u16(b.data(), 40); }},
      {"nbits 11", [](auto& b) { put_u16(b.data(), (11 << 11) | 40); }},
  };
  for (const Case& c : cases) {
    Stream s;
    s.particle(10.0).particle(20.0).particle(30.0);
    c.spoil(s.bytes);
    EXPECT_FALSE(walk_hyd(s.bytes).ok()) << c.what;
  }
}

TEST(CheckPosPix, AcceptsEntriesAtParticlesOfTheirMinuteOrLater) {
  Stream s;
  s.header(kLineFr).particle(2 * kMinute + 5).particle(5 * kMinute).particle(5 * kMinute + 1);
  HydWalk w = walk_hyd(s.bytes);
  ASSERT_TRUE(w.ok());
  std::vector<int32_t> pos_pix(kMinutes, -1);
  pos_pix[0] = 0;                                  // start of the stream, as a new header file holds it
  pos_pix[1] = pos_pix[2] = 74;                    // the particle of minute 2
  pos_pix[3] = pos_pix[4] = pos_pix[5] = 74 + 40;  // the first particle of minute 5
  EXPECT_EQ(check_pos_pix(w, pos_pix, 0.0), "");
}

TEST(CheckPosPix, RejectsEntriesThatDoNotLeadToTheirMinute) {
  Stream s;
  s.header(kLineFr).particle(2 * kMinute + 5).particle(5 * kMinute).header(2 * kLineFr);
  s.particle(20 * kMinute);  // minute 10 at the doubled line frequency
  HydWalk w = walk_hyd(s.bytes);
  ASSERT_TRUE(w.ok());
  struct Case {
    int minute;
    int32_t pos;
  };
  const std::vector<Case> bad = {
      {3, 74},             // a particle of minute 2 for minute 3
      {2, 0},              // a main header record
      {2, 75},             // inside a record
      {2, 5000},           // beyond the stream
      {11, 74 + 80 + 74},  // minute 10 after the new line frequency
  };
  for (const Case& c : bad) {
    std::vector<int32_t> pos_pix(kMinutes, -1);
    pos_pix[c.minute] = c.pos;
    EXPECT_NE(check_pos_pix(w, pos_pix, 0.0), "") << c.minute << " " << c.pos;
  }
  std::vector<int32_t> good(kMinutes, -1);
  good[10] = 74 + 80 + 74;
  EXPECT_EQ(check_pos_pix(w, good, 0.0), "");

  std::vector<int32_t> falling(kMinutes, -1);
  falling[1] = 74 + 40;
  falling[2] = 74;
  EXPECT_NE(check_pos_pix(w, falling, 0.0), "");
}

TEST(CheckPosPix, UsesTheGivenLineFrequencyBeforeAnyHeader) {
  Stream s;
  s.particle(3 * kMinute);
  HydWalk w = walk_hyd(s.bytes);
  std::vector<int32_t> pos_pix(kMinutes, -1);
  pos_pix[3] = 0;
  EXPECT_EQ(check_pos_pix(w, pos_pix, kLineFr), "");
  EXPECT_NE(check_pos_pix(w, pos_pix, 2 * kLineFr), "");
  EXPECT_NE(check_pos_pix(w, pos_pix, 0.0), "");
}

TEST(CheckPosPix, NamesTheMinuteOfAHugeOrUndefinedT1) {
  struct Case {
    double t1;
    const char* minute;
  };
  const Case cases[] = {
      {-2e291, "-3.33333e+287"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const Case& c : cases) {
    Stream s;
    s.header(kLineFr).particle(c.t1);
    HydWalk w = walk_hyd(s.bytes);
    std::vector<int32_t> pos_pix(kMinutes, -1);
    pos_pix[3] = 74;
    EXPECT_EQ(check_pos_pix(w, pos_pix, 0.0),
              std::string("pos_pix[3]=74 points at a particle of minute ") + c.minute)
        << c.t1;
  }
}

}  // namespace
}  // namespace quorda
