// Reading a hydrometeor file back and tying its particles to the truth table.
#include "e2e/truth_compare.h"

#include <gtest/gtest.h>

#include "format/main_header.h"

namespace quorda::e2e {
namespace {

void add_particle(std::string& f, double t1, int16_t eq_diam, int16_t x_min_a, int16_t vel) {
  uint8_t rec[34] = {};
  put_u16(rec + pixhead::kLenBits, static_cast<uint16_t>((3 << 11) | sizeof rec));
  put_f64(rec + pixhead::kT1, t1);
  put_i16(rec + pixhead::kEqDiam, eq_diam);
  put_i16(rec + pixhead::kXMinA, x_min_a);
  put_i16(rec + pixhead::kVel, vel);
  f.append(reinterpret_cast<const char*>(rec), sizeof rec);
}

TEST(ReadHyd, TakesParticlesBetweenMainHeadersAndConvertsTheirUnits) {
  quorda::testing::ScratchDir dir;
  MainHeader h;
  h.line_fr = 50000.0;
  uint8_t hd[kMainHeaderSize];
  encode_main_header(h, hd);
  std::string f(reinterpret_cast<const char*>(hd), sizeof hd);
  add_particle(f, 1000.0, 123, 40, 1600);  // 1.23 mm, 0.16 mm per line = 8 m/s
  f.append(reinterpret_cast<const char*>(hd), sizeof hd);
  add_particle(f, 2000.0, 50, 7, 800);
  quorda::testing::write_file(dir.file("d.hyd"), f);
  std::vector<Particle> parts;
  double line_fr = 0;
  std::string error;
  ASSERT_TRUE(read_hyd(dir.file("d.hyd"), &parts, &line_fr, &error)) << error;
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(line_fr, 50000.0);
  EXPECT_EQ(parts[0].t1, 1000.0);
  EXPECT_NEAR(parts[0].diam, 1.23, 1e-12);
  EXPECT_NEAR(parts[0].speed, 8.0, 1e-12);
  EXPECT_EQ(parts[1].x_min_a, 7);

  quorda::testing::write_file(dir.file("cut.hyd"), f.substr(0, f.size() - 3));
  EXPECT_FALSE(read_hyd(dir.file("cut.hyd"), &parts, &line_fr, &error));
}

TEST(CompareWithTruth, TiesParticlesToDropsByFirstLineAndPositionInCameraA) {
  std::vector<TruthRow> rows(3);
  for (size_t i = 0; i < rows.size(); ++i) {
    TruthRow& r = rows[i];
    r.id = i;
    r.diam = 1.0;
    r.speed = 4.0;
    r.first_line[0] = 100000 + 10000 * static_cast<int64_t>(i);
    r.last_line[0] = r.first_line[0] + 10;
    r.first_line[1] = r.first_line[0] + 100;
    r.last_line[1] = r.first_line[1] + 10;
    r.lines[0] = r.lines[1] = 11;
    r.x_min[0] = r.x_min[1] = 100;
    r.x_max[0] = r.x_max[1] = 107;
    r.width[0] = r.width[1] = 7;
  }
  rows[2].width[1] = 13;  // fails the width test: not expected
  std::vector<Particle> parts(5);
  parts[0] = {100000.0, 100, 100, 1.01, 4.02};  // drop 0
  parts[1] = {110000.0, 60, 100, 1.0, 4.0};     // right line, wrong place
  parts[2] = {100000.0, 101, 100, 1.0, 4.0};    // drop 0 a second time
  parts[3] = {120000.0, 100, 100, 1.0, 4.0};    // drop 2, found although not expected
  parts[4] = {110004.0, 103, 100, 0.5, 4.0};    // begins inside drop 1's shadow
  const Comparison c = compare(rows, parts, 200000);
  EXPECT_EQ(c.expected, 2u);
  EXPECT_EQ(c.found, 1u);
  EXPECT_EQ(c.unexplained, 2u);
  parts[4].t1 = 110011.0;  // one line after drop 1's shadow
  EXPECT_EQ(compare(rows, parts, 200000).unexplained, 3u);
  parts[4].t1 = 110004.5;  // between lines
  EXPECT_EQ(compare(rows, parts, 200000).unexplained, 3u);
  ASSERT_EQ(c.diam_err.size(), 1u);
  EXPECT_NEAR(c.diam_err[0], 0.01, 1e-9);
  EXPECT_NEAR(c.speed_err[0], 0.005, 1e-9);

  // A drop too close to the end of camera A's data is not expected, nor one that has another
  // particle within the matching window before it.
  EXPECT_EQ(compare(rows, parts, 100500).expected, 0u);
  rows[1].first_line[0] = 100600;
  rows[1].last_line[0] = 100610;
  const auto e = expected_drops(rows, 200000);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0], 0u);
  rows[1].first_line[0] = 100105;  // now also within drop 0's span
  EXPECT_TRUE(expected_drops(rows, 200000).empty());
}

}  // namespace
}  // namespace quorda::e2e
