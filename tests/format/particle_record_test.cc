// Reading particle records back: head decoder, camera B line count and outline, on records built by
// the pair transform.
#include "format/particle_record.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/bytes.h"
#include "measure/pack_particle.h"
#include "measure/pair_fixture.h"

namespace quorda {
namespace {

using testing::OwnedPiece;
using testing::TestRun;

// The head and words of pack_particle laid out as in the stream.
struct Built {
  int ok = 0;
  std::vector<uint8_t> bytes;
};

Built build(TestRun& run, const Piece& a, const Piece& b) {
  uint8_t head[kPixHeadSize] = {};
  uint16_t words[kMaxOutlineWords] = {};
  Built r;
  r.ok = pack_particle(run.ctx->measure_part(), a, b, run.ctx->framing.last_record_len, words, head);
  if (r.ok == 0) return r;
  const int len = get_u16(head) & 0x7FF;
  r.bytes.assign(head, head + kPixHeadSize);
  r.bytes.resize(static_cast<size_t>(len));
  for (int i = 0; i < (len - static_cast<int>(kPixHeadSize)) / 2; ++i)
    put_u16(r.bytes.data() + kPixHeadSize + 2 * i, words[i]);
  return r;
}

class ParticleRecord : public ::testing::Test {
 protected:
  void SetUp() override { testing::setup_worked_example(*run.ctx); }
  TestRun run;
};

TEST_F(ParticleRecord, HeadOfTheWorkedExampleDecodesToItsFields) {
  run.ctx->framing.last_record_len = 74;
  OwnedPiece a(testing::same_runs(10, 246, 266), 1000.5);
  OwnedPiece b(testing::same_runs(12, 240, 266), 1020);
  Built r = build(run, a.p, b.p);
  ASSERT_EQ(r.ok, 1);
  const ParticleHead h = decode_particle_head(r.bytes.data());
  EXPECT_EQ(h.length, static_cast<int>(r.bytes.size()));
  EXPECT_EQ(h.nbits, 5);
  EXPECT_EQ(h.len_prev, 74);
  EXPECT_EQ(h.t1, 1000.5);
  EXPECT_EQ(h.line_no, 10);
  EXPECT_EQ(h.line_no_diff, 2);
  EXPECT_EQ(h.diff_lins, 19);
  EXPECT_EQ(h.x_min_a, 246);
  EXPECT_EQ(h.x_min_b, 240);
  EXPECT_NEAR(h.scale_a, 1500, 10);  // 0.15 mm per pixel, slightly corrected for the position
  EXPECT_NEAR(h.scale_b, 1500, 10);
  EXPECT_GT(h.eq_diam, 0);
  EXPECT_GT(h.vel, 0);
}

TEST_F(ParticleRecord, WordCountFollowsThePackerPasses) {
  // 8 values of 1 bit: one pass of 32 values, then the carry word.
  EXPECT_EQ(outline_word_count(8, 1), 2);
  // 40 values of 5 bits: 13 words.
  EXPECT_EQ(outline_word_count(40, 5), 13);
  // 8 values of 8 bits: passes of 4, 2 and 2 values, then the carry word.
  EXPECT_EQ(outline_word_count(8, 8), 4);
}

TEST_F(ParticleRecord, CameraBLinesAreFoundPastTheEightBitDifference) {
  // 10 lines in A and 266 in B: the head holds 256 as 0, and 10 and 266 differ in their words.
  for (int lb : {10, 137, 266, 500}) {
    OwnedPiece a(testing::same_runs(10, 100, 103), 1000);
    OwnedPiece b(testing::same_runs(lb, 100, 102), 1010);
    Built r = build(run, a.p, b.p);
    ASSERT_EQ(r.ok, 1) << lb;
    const ParticleHead h = decode_particle_head(r.bytes.data());
    EXPECT_EQ(camera_b_lines(h), lb);
  }
}

TEST_F(ParticleRecord, HeadWhoseLineCountsDoNotFitItsWordsHasNoOutline) {
  OwnedPiece a(testing::same_runs(10, 100, 103), 1000);
  OwnedPiece b(testing::same_runs(10, 100, 102), 1010);
  Built r = build(run, a.p, b.p);
  ASSERT_EQ(r.ok, 1);
  put_i16(r.bytes.data() + pixhead::kLineNo, 40);  // far more values than the words hold
  const ParticleHead h = decode_particle_head(r.bytes.data());
  EXPECT_EQ(camera_b_lines(h), -1);
  Outline o;
  EXPECT_FALSE(decode_outline(r.bytes.data(), h, o));
  put_i16(r.bytes.data() + pixhead::kLineNo, 1);  // below the two lines every piece has
  EXPECT_EQ(camera_b_lines(decode_particle_head(r.bytes.data())), -1);
}

TEST_F(ParticleRecord, RandomPairsDecodeToTheirAbsoluteOutlines) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> lines(2, 400);
  std::uniform_int_distribution<int> width(1, 600);
  auto make_runs = [&](int n, int x0, int w) {
    std::vector<quorda::Run> runs(static_cast<size_t>(n));
    std::uniform_int_distribution<int> pos(0, w);
    for (auto& r : runs) {
      int s = pos(rng), e = pos(rng);
      if (s > e) std::swap(s, e);
      r = {static_cast<int16_t>(x0 + s), static_cast<int16_t>(x0 + e)};
    }
    runs[0] = {static_cast<int16_t>(x0), static_cast<int16_t>(x0 + w)};
    return runs;
  };
  static Outline o;
  int decoded = 0;
  for (int trial = 0; trial < 200; ++trial) {
    OwnedPiece a(make_runs(lines(rng), 5 + trial, width(rng) / 8 + 1), 2000);
    OwnedPiece b(make_runs(lines(rng), 17 + trial, width(rng)), 2011);
    Built r = build(run, a.p, b.p);
    if (r.ok == 0) continue;  // too long for a record
    ++decoded;
    const ParticleHead h = decode_particle_head(r.bytes.data());
    ASSERT_TRUE(decode_outline(r.bytes.data(), h, o)) << trial;
    ASSERT_EQ(o.lines_a, a.p.line_no);
    ASSERT_EQ(o.lines_b, b.p.line_no);
    for (int i = 0; i < o.lines_a; ++i) {
      ASSERT_EQ(o.start_a[i], a.runs[static_cast<size_t>(i)].start) << trial << " " << i;
      ASSERT_EQ(o.end_a[i], a.runs[static_cast<size_t>(i)].end) << trial << " " << i;
    }
    for (int i = 0; i < o.lines_b; ++i) {
      ASSERT_EQ(o.start_b[i], b.runs[static_cast<size_t>(i)].start) << trial << " " << i;
      ASSERT_EQ(o.end_b[i], b.runs[static_cast<size_t>(i)].end) << trial << " " << i;
    }
  }
  EXPECT_GT(decoded, 100);
}

}  // namespace
}  // namespace quorda
