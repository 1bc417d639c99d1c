// A/B matching: the look-behind window, the candidate window, the match test and the chronology
// check, with the pairs observed in the writer's buffer.
#include "match/match_pieces.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/bytes.h"
#include "format/particle_record.h"
#include "match/queue_helpers.h"
#include "measure/particle_writer.h"
#include "support/output_fixture.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::MatchParts;
using testing::TestRun;

constexpr double kLineFr = 20000.0;

struct MatchPieces : ::testing::Test {
  MatchPieces() {
    testing::name_output_set(ctx, t.dir.path());
    testing::prepare_measure(ctx);
    open_output_set(ctx.rawin_part());
    ctx.particle_writer.save(SaveKind::kCommit);
    testing::take_header(ctx, testing::raw_header(kLineFr, 14699u * 86400u));
    ctx.particle_writer.save(SaveKind::kCommit);
    t.clear_streams();
  }
  // A waiting piece of `lines` lines of the given width from first_line on, newest at the head.
  Piece* wait(CamQueues& q, PieceOwner id, double first_line, int16_t width, int lines = 10) {
    Piece* p = &ctx.pool.slots[next_slot++];
    p->owner = id;
    p->x_min = 246;
    p->x_max = static_cast<int16_t>(246 + width);
    p->width = width;
    p->line_no = static_cast<int16_t>(lines);
    p->first_line = first_line;
    p->last_line = first_line + lines - 1;
    for (int i = 0; i < lines; ++i) p->runs[i] = quorda::Run{p->x_min, p->x_max};
    p->prev = nullptr;
    p->next = q.wait_head;
    if (q.wait_head != nullptr) {
      q.wait_head->prev = p;
    } else {
      q.wait_tail = p;
    }
    q.wait_head = p;
    return p;
  }
  Piece* a(double first_line, int16_t width = 10) {
    return wait(ctx.queues_a, PieceOwner::kWaitA, first_line, width);
  }
  Piece* b(double first_line, int16_t width = 10) {
    return wait(ctx.queues_b, PieceOwner::kWaitB, first_line, width);
  }
  // first_line of the pieces of a wait queue, from the tail (oldest) on.
  static std::vector<double> waiting(const CamQueues& q) {
    std::vector<double> v;
    for (const Piece* p = q.wait_tail; p != nullptr; p = p->prev) v.push_back(p->first_line);
    return v;
  }
  // t1 of the records in the writer's buffer.
  std::vector<double> written() const {
    std::vector<double> v;
    for (int32_t at = 0; at < ctx.particle_writer.buffered_bytes();) {
      const uint8_t* r = ctx.particle_writer.buffered() + at;
      v.push_back(get_f64(r + pixhead::kT1));
      at += get_u16(r) & 0x7FF;
    }
    return v;
  }
  void match(double newest_a) { match_pieces(ctx.match_part(), &total, newest_a); }

  TestRun t;
  RunContext& ctx = *t.ctx;
  int next_slot = 0;
  int32_t total = 0;
};

TEST_F(MatchPieces, ExaminesOnlyAPiecesAtLeastTheSpanBehindTheNewestLine) {
  a(800);
  a(801);
  b(810);
  b(811);
  match(2000);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(written(), std::vector<double>{800});
  EXPECT_EQ(waiting(ctx.queues_a), std::vector<double>{801});
  EXPECT_EQ(waiting(ctx.queues_b), std::vector<double>{811});
  EXPECT_EQ(ctx.pool.slots[0].owner, PieceOwner::kFree);  // the pair is freed
  EXPECT_EQ(ctx.pool.slots[2].owner, PieceOwner::kFree);
}

TEST_F(MatchPieces, BPieceBeginningBeforeTheAPieceIsFreedAndTheNextTried) {
  a(1000);
  b(999);
  b(1005);
  match(3000);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(written(), std::vector<double>{1000});
  EXPECT_TRUE(waiting(ctx.queues_a).empty());
  EXPECT_TRUE(waiting(ctx.queues_b).empty());
}

TEST_F(MatchPieces, CandidateWindowEndsExactlyOneSpanAfterTheAPiece) {
  a(1000);
  b(2200);
  match(2200);
  EXPECT_EQ(written(), std::vector<double>{1000});

  a(3000);
  b(4201);
  match(4200);
  EXPECT_EQ(total, 1);
  EXPECT_TRUE(waiting(ctx.queues_a).empty());  // freed unmatched
  EXPECT_EQ(waiting(ctx.queues_b), std::vector<double>{4201});
  EXPECT_EQ(written(), std::vector<double>{1000});
}

TEST_F(MatchPieces, APieceWhoseCandidatesFailWaitsAndBreaksTheChronologyWhenMatchedLater) {
  a(1000, 4);  // its only candidate of this call is too wide
  a(1100, 10);
  b(1010, 12);
  b(1110, 10);
  match(2400);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(written(), std::vector<double>{1100});
  EXPECT_EQ(waiting(ctx.queues_a), std::vector<double>{1000});
  EXPECT_TRUE(waiting(ctx.queues_b).empty());  // 1010 began before the A piece at 1100
  EXPECT_EQ(t.err(), "");

  b(1020, 4);  // its partner arrives: counted, not written, both freed
  match(2500);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(written(), std::vector<double>{1100});
  EXPECT_EQ(t.err(), "C");
  EXPECT_TRUE(waiting(ctx.queues_a).empty());
  EXPECT_TRUE(waiting(ctx.queues_b).empty());
  EXPECT_EQ(ctx.matcher.last_match_line, 1100.0);
}

TEST_F(MatchPieces, EqualFirstLinesInSuccessiveCallsPassTheChronology) {
  a(1000);
  b(1010);
  match(2500);
  a(1000);
  b(1012);
  match(2600);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(written(), (std::vector<double>{1000, 1000}));
  EXPECT_EQ(t.err(), "");
}

// Pieces of 11 lines of the given width from `first` to `last`.
Piece piece(int16_t width, double first, double last) {
  Piece p;
  p.width = width;
  p.first_line = first;
  p.last_line = last;
  return p;
}

TEST(MatchTest, WidthsMustBeSimilar) {
  MatchParts t;
  struct Case {
    int16_t wa, wb;
    int expected;
  };
  const std::vector<Case> cases = {
      {10, 15, 1},                          // difference 5, ratio 0.6666667: the lower bound itself
      {15, 10, 1},                          // ratio 1.5: the upper bound itself
      {2, 3, 1},   {3, 2, 1}, {10, 16, 0},  // difference 6
      {1, 2, 0},                            // ratio 0.5
      {4, 7, 0},                            // ratio 0.571
      {0, 0, 0},   {0, 3, 0}, {3, 0, 0},
  };
  for (const Case& c : cases) {
    const Piece pa = piece(c.wa, 100, 110);
    const Piece pb = piece(c.wb, 101, 111);
    EXPECT_EQ(pieces_match(t.run(), pa, pb), c.expected) << c.wa << "/" << c.wb;
  }
}

TEST(MatchTest, BMustLieLaterThanAOnTheWhole) {
  MatchParts t;
  const Piece pa = piece(10, 100, 110);
  EXPECT_EQ(pieces_match(t.run(), pa, piece(10, 100, 110)), false);      // 0 + 0
  EXPECT_EQ(pieces_match(t.run(), pa, piece(10, 100, 111)), true);       // 0 + 1
  EXPECT_EQ(pieces_match(t.run(), pa, piece(10, 101, 109)), false);      // 1 - 1
  EXPECT_EQ(pieces_match(t.run(), pa, piece(10, 100.9, 110.9)), false);  // each cut towards zero
}

}  // namespace
}  // namespace quorda
