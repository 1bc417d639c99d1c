// pack_particle: the particle record head, the packed outline and the refusals.
#include "measure/pack_particle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/particle_record.h"
#include "measure/measure_drop.h"
#include "measure/pair_fixture.h"
#include "support/packing_model.h"

namespace quorda {
namespace {

using testing::model_packed_words;
using testing::OwnedPiece;
using testing::same_runs;
using testing::TestRun;

// Reads `count` values of nbits bits back from the words, lowest bits of word 0 first.
std::vector<int> unpack(const uint16_t* words, int n_words, int nbits, int count) {
  std::vector<int16_t> v(static_cast<size_t>(count));
  const int n =
      unpack_outline(std::span<const uint16_t>(words, static_cast<size_t>(n_words)), nbits, count, v.data());
  return std::vector<int>(v.begin(), v.begin() + n);
}

std::vector<int> outline_of(const Piece& a, const Piece& b) {
  std::vector<int> v;
  for (const Piece* p : {&a, &b}) {
    for (int i = 0; i < p->line_no; ++i) v.push_back(p->runs[i].start - p->x_min);
    for (int i = 0; i < p->line_no; ++i) v.push_back(p->runs[i].end - p->x_min);
  }
  return v;
}

struct Record {
  int ok = 0;
  uint8_t head[kPixHeadSize] = {};
  uint16_t words[kMaxOutlineWords] = {};

  int length() const { return get_u16(head + pixhead::kLenBits) & 0x7FF; }
  int nbits() const { return get_u16(head + pixhead::kLenBits) >> 11; }
  int n_words() const { return (length() - static_cast<int>(kPixHeadSize)) / 2; }
  int16_t field(size_t off) const { return get_i16(head + off); }
};

Record transform(TestRun& run, const OwnedPiece& a, const OwnedPiece& b) {
  Record r;
  r.ok = pack_particle(run.ctx->measure_part(), a.p, b.p, run.ctx->framing.last_record_len, r.words, r.head);
  return r;
}

class PackParticle : public ::testing::Test {
 protected:
  void SetUp() override { testing::setup_worked_example(*run.ctx); }
  TestRun run;
};

TEST_F(PackParticle, WorkedExampleOfTheEvaluationGivesItsHeadAndWords) {
  run.ctx->framing.last_record_len = 74;
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  Record r = transform(run, a, b);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(get_u16(r.head + pixhead::kLenBits), 0x2838);
  EXPECT_EQ(r.length(), 56);
  EXPECT_EQ(r.n_words(), 13);
  EXPECT_EQ(r.field(pixhead::kLenPrev), 74);
  EXPECT_EQ(get_f64(r.head + pixhead::kT1), 1000.0);
  EXPECT_EQ(r.field(pixhead::kEqDiam), 347);
  EXPECT_EQ(r.field(pixhead::kLineNo), 10);
  EXPECT_EQ(r.field(pixhead::kLineNoDiff), 0);
  EXPECT_EQ(r.field(pixhead::kDiffLins), 20);
  EXPECT_EQ(r.field(pixhead::kXMinA), 246);
  EXPECT_EQ(r.field(pixhead::kXMinB), 246);
  EXPECT_EQ(r.field(pixhead::kVel), 3100);
  EXPECT_EQ(r.field(pixhead::kScaleA), 1500);
  EXPECT_EQ(r.field(pixhead::kScaleB), 1500);
  EXPECT_EQ(unpack(r.words, 13, 5, 40), outline_of(a.p, b.p));
  EXPECT_EQ(run.err(), "");
}

TEST_F(PackParticle, SmallWorkedExamplePacksTwoBitValues) {
  OwnedPiece a({{100, 103}, {101, 102}}, 1000);
  OwnedPiece b({{100, 102}, {100, 103}}, 1020);
  Record r = transform(run, a, b);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.words[0], 0xE0B4);
  EXPECT_EQ(r.words[1], 0x0000);
  EXPECT_EQ(r.length(), 34);
  EXPECT_EQ(get_u16(r.head + pixhead::kLenBits), 0x1022);
}

TEST_F(PackParticle, WidthOneGivesOneBitValuesInTwoWords) {
  OwnedPiece a({{100, 101}, {100, 101}}, 1000);
  OwnedPiece b({{200, 201}, {200, 200}}, 1020);
  Record r = transform(run, a, b);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.nbits(), 1);
  EXPECT_EQ(r.length(), 34);
  EXPECT_EQ(unpack(r.words, 2, 1, 8), (std::vector<int>{0, 0, 1, 1, 0, 0, 1, 0}));
}

TEST_F(PackParticle, BitsPerValueFollowTheHighestBitOfEitherWidth) {
  OwnedPiece a({{100, 105}, {101, 104}}, 1000);
  OwnedPiece b({{0, 200}, {50, 60}}, 1020);
  Record r = transform(run, a, b);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.nbits(), 8);
  // With 8 bits every pass after the first takes 2 values and the carry keeps 16 bits: 8 values
  // take the first pass (4), one more pass (2), one more (2), then the carry word.
  EXPECT_EQ(r.n_words(), 4);
  EXPECT_EQ(r.words[3], (60 - 0) << 8 | 200);
  EXPECT_EQ(unpack(r.words, r.n_words(), 8, 8), outline_of(a.p, b.p));
}

TEST_F(PackParticle, LineCountDifferenceIsKeptInEightBits) {
  OwnedPiece a(same_runs(12, 246, 266), 1000);
  OwnedPiece b(same_runs(9, 246, 266), 1020);
  EXPECT_EQ(transform(run, a, b).field(pixhead::kLineNoDiff), -3);
  OwnedPiece a2(same_runs(2, 246, 266), 1000);
  OwnedPiece b2(same_runs(202, 246, 266), 1020);
  EXPECT_EQ(transform(run, a2, b2).field(pixhead::kLineNoDiff), -56);
}

TEST_F(PackParticle, LineDelayIsTruncatedTowardZero) {
  OwnedPiece a(same_runs(3, 246, 266), 1000);
  OwnedPiece b(same_runs(3, 246, 266), 1003.7);
  EXPECT_EQ(transform(run, a, b).field(pixhead::kDiffLins), 3);
  b.build(999.5);
  EXPECT_EQ(transform(run, a, b).field(pixhead::kDiffLins), 0);
}

// The scaled fields are single-precision products, truncated: each case below truncates one lower
// when the float is widened to double before the multiplication.
TEST_F(PackParticle, ScaledFieldsAreSinglePrecisionProductsTruncated) {
  // 0.153f is 0.152999997...: times 10000 in single precision 1530 (in double 1529.99997).
  run.ctx->settings.xscal_a = 0.153f;
  run.ctx->settings.xscal_b = 0.153f;
  OwnedPiece a(same_runs(10, 246, 266), 1000);
  OwnedPiece b(same_runs(10, 246, 266), 1020);
  Record r = transform(run, a, b);
  EXPECT_EQ(r.field(pixhead::kScaleA), 1530);
  EXPECT_EQ(r.field(pixhead::kScaleB), 1530);

  // Plane distance 7 mm and delays of 10 lines: vel = 0.7f (0.699999988...), stored as 7000.
  run.ctx->settings.hbl = run.ctx->settings.hbr = run.ctx->settings.hfr = 7.0f;
  b.build(1010);
  EXPECT_EQ(transform(run, a, b).field(pixhead::kVel), 7000);

  // 6 lines of 18 pixels at 0.155 mm per pixel and 0.31 mm per line: eq_diam = 2.78999996f,
  // stored as 279 (in double 278.999996).
  run.ctx->settings.hbl = 6.0f;
  run.ctx->settings.hbr = 6.2f;
  run.ctx->settings.hfr = 6.4f;
  run.ctx->settings.xscal_a = run.ctx->settings.xscal_b = 0.155f;
  OwnedPiece round_a(same_runs(6, 247, 265), 1000);
  OwnedPiece round_b(same_runs(6, 247, 265), 1020);
  Record d = transform(run, round_a, round_b);
  EXPECT_EQ(d.field(pixhead::kVel), 3100);
  EXPECT_EQ(d.field(pixhead::kEqDiam), 279);
}

// A pair of la + lb lines whose widths (1023) make 10-bit values.
Record wide_pair(TestRun& run, int la, int lb) {
  std::vector<quorda::Run> ra = same_runs(la, 0, 500), rb = same_runs(lb, 0, 500);
  ra[0].end = 1023;
  rb[1] = {3, 1000};
  OwnedPiece a(ra, 1000), b(rb, 1020);
  return transform(run, a, b);
}

TEST_F(PackParticle, RecordsOf2048BytesOrMoreAreRefused) {
  // 10-bit values: 1612 values make 1008 words (length 2046), 1614 values 1009 words.
  Record r = wide_pair(run, 403, 403);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.nbits(), 10);
  EXPECT_EQ(r.length(), 2046);
  EXPECT_EQ(run.err(), "");

  Record refused = wide_pair(run, 403, 404);
  EXPECT_EQ(refused.ok, 0);
  EXPECT_EQ(run.err(), "transf_1: max. len exceeded !!! \n");
  // The head is left alone; the text line was written all the same.
  EXPECT_EQ(refused.length(), 0);
  std::string text = testing::read_res(run);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(PackParticle, LargestPiecesNeverWritePastTheOutlineArea) {
  Record r;
  std::vector<quorda::Run> ra = same_runs(MAXLIN, 0, 1023), rb = same_runs(MAXLIN, 0, 1023);
  OwnedPiece a(ra, 1000), b(rb, 1020);
  r.ok = pack_particle(run.ctx->measure_part(), a.p, b.p, run.ctx->framing.last_record_len, r.words, r.head);
  EXPECT_EQ(r.ok, 0);
}

TEST_F(PackParticle, WidthsBeyondTenBitsAreRefused) {
  for (int16_t width : {1024, 1025, 2047}) {
    run.clear_streams();
    OwnedPiece a({{0, width}, {0, 5}}, 1000);
    OwnedPiece b({{0, 7}, {0, 5}}, 1020);
    EXPECT_EQ(transform(run, a, b).ok, 0) << width;
    EXPECT_NE(run.err().find("cannot be packed"), std::string::npos) << width;
  }
}

TEST_F(PackParticle, TooManyLinesEndTheRun) {
  OwnedPiece a(same_runs(MAXLIN, 0, 10), 1000), b(same_runs(MAXLIN + 1, 0, 10), 1020);
  Record r;
  EXPECT_EQ(run.ends_with([&] {
    pack_particle(run.ctx->measure_part(), a.p, b.p, run.ctx->framing.last_record_len, r.words, r.head);
  }),
            kExitFatal);
  EXPECT_EQ(run.err(),
            " in transf_1 ....error drop_a->line_no= 600 \n drop_b->line_no= 601 \n MAXLIN         = 600 \n");
  EXPECT_EQ(testing::read_res(run), "");
}

TEST_F(PackParticle, TinyDiameterIsReportedAndStoredAsZero) {
  // Pixels of 0.0002 mm make a particle of a few thousandths of a millimetre.
  run.ctx->settings.xscal_a = run.ctx->settings.xscal_b = 0.0002f;
  OwnedPiece a({{250, 252}, {250, 252}}, 1000);
  OwnedPiece b({{250, 252}, {250, 252}}, 1020);
  Record r = transform(run, a, b);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.field(pixhead::kEqDiam), 0);
  const std::string err = run.err();
  EXPECT_EQ(err.rfind("\neq_diam problem:\neq_diam= 0.00", 0), 0u) << err;
  EXPECT_NE(err.find("  line_no_A= 2  line_no_B= 2\ndiff_lins= 20\n"), std::string::npos) << err;
}

// n random runs within origin..origin + width, the first spanning all of it (when there is one).
std::vector<quorda::Run> random_runs(std::mt19937& rng, int n, int width, int origin) {
  std::vector<quorda::Run> r(static_cast<size_t>(n));
  std::uniform_int_distribution<int> pos(0, width);
  for (auto& x : r) {
    int s = pos(rng), e = pos(rng);
    if (s > e) std::swap(s, e);
    x = {static_cast<int16_t>(origin + s), static_cast<int16_t>(origin + e)};
  }
  if (n > 0) r[0] = {static_cast<int16_t>(origin), static_cast<int16_t>(origin + width)};
  return r;
}

TEST_F(PackParticle, WordsAreThoseOfThePassByPassModelForEveryBitCount) {
  std::mt19937 rng(7);
  int compared = 0;
  for (int bits = 1; bits <= kMaxValueBits; ++bits) {
    const int width = (1 << bits) - 1;
    for (int la = 0; la <= 40; ++la) {
      for (int lb : {0, 1, 2, 3, 5, 8, 13, 21, 34, 55, 120}) {
        OwnedPiece a(random_runs(rng, la, width, 50), 1000), b(random_runs(rng, lb, width, 50), 1010);
        // Now and then a smallest pixel past some run starts: their values wrap and lose their
        // high bits, as damaged data would.
        if (la > 0 && (la + lb) % 7 == 0) a.p.x_min = static_cast<int16_t>(a.p.x_min + width / 2);
        std::vector<int> values;
        for (const Piece* p : {&a.p, &b.p}) {
          for (int i = 0; i < p->line_no; ++i)
            values.push_back(static_cast<uint16_t>(p->runs[i].start - p->x_min));
          for (int i = 0; i < p->line_no; ++i)
            values.push_back(static_cast<uint16_t>(p->runs[i].end - p->x_min));
        }
        run.clear_streams();
        const Record r = transform(run, a, b);
        const int nbits =
            std::bit_width(static_cast<unsigned>((a.p.x_max - a.p.x_min) | (b.p.x_max - b.p.x_min)));
        if (r.ok == 0) {
          // Refused: no width at all (two pieces without lines), or a record too long; its words
          // are not looked at.
          EXPECT_TRUE(nbits == 0 || 2 * model_packed_words(values, nbits).size() + kPixHeadSize >=
                                        static_cast<size_t>(kMaxRecordLength))
              << bits << " " << la << " " << lb;
          continue;
        }
        ++compared;
        const std::vector<uint16_t> want = model_packed_words(values, nbits);
        ASSERT_EQ(r.nbits(), nbits);
        ASSERT_EQ(static_cast<size_t>(r.n_words()), want.size()) << bits << " " << la << " " << lb;
        ASSERT_EQ(std::vector<uint16_t>(r.words, r.words + r.n_words()), want)
            << bits << " " << la << " " << lb;
      }
    }
  }
  EXPECT_GT(compared, 4000);
}

TEST_F(PackParticle, RandomPairsUnpackToTheirOutlines) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> lines(2, 300);
  std::uniform_int_distribution<int> width_bits(1, 10);
  int built = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const int wa = (1 << width_bits(rng)) - 1, wb = std::uniform_int_distribution<int>(1, wa)(rng);
    OwnedPiece a(random_runs(rng, lines(rng), wa, 100), 1000), b(random_runs(rng, lines(rng), wb, 100), 1010);
    Record r = transform(run, a, b);
    const int values = 2 * (a.p.line_no + b.p.line_no);
    const int nbits = std::bit_width(static_cast<unsigned>(wa | wb));
    // The record length follows from the bit count: one word per 16 bits consumed, plus the carry.
    if (r.ok == 0) {
      EXPECT_GT(values * nbits, 1007 * 16) << trial;
      continue;
    }
    ++built;
    EXPECT_EQ(r.nbits(), nbits);
    EXPECT_EQ(unpack(r.words, r.n_words(), r.nbits(), values), outline_of(a.p, b.p)) << trial;
    // Bits after the last value are zero.
    std::vector<int> all = unpack(r.words, r.n_words(), 1, r.n_words() * 16);
    for (size_t i = static_cast<size_t>(values * nbits); i < all.size(); ++i) ASSERT_EQ(all[i], 0) << trial;
  }
  EXPECT_GT(built, 200);
}

// The packing hands the widest lines it finds to the evaluation: the "res" lines it writes are
// those of the evaluation on its own, also for damaged pieces (a run with its ends swapped, one
// whose width needs all 17 bits of a difference, the widest line anywhere but first).
TEST_F(PackParticle, ResLinesAreThoseOfTheEvaluationAloneForDamagedPieces) {
  std::mt19937 rng(20261210);
  std::string want;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<quorda::Run> ra = random_runs(rng, 2 + trial % 13, 40, 100);
    std::vector<quorda::Run> rb = random_runs(rng, 2 + trial % 7, 40, 100);
    std::swap(ra[1].start, ra[1].end);
    if (trial % 5 == 0) rb.back() = {INT16_MIN, INT16_MAX};
    if (trial % 3 == 0) ra.back().end = static_cast<int16_t>(ra.back().end + 60);
    OwnedPiece a(ra, 1000), b(rb, 1010);
    transform(run, a, b);
    double values[kResValues];
    res_values(measure_drop(run.ctx->measure_part(), a.p, b.p), values);
    char line[kResLineMax];
    want.append(line, format_res_line(values, line));
  }
  EXPECT_EQ(read_res(run), want);
}

}  // namespace
}  // namespace quorda
