// Piece assignment: how runs of successive lines join into pieces, the tie rules, the overflow
// at MAXLIN lines, the discard rules, and a randomized check over separated synthetic particles.
#include "match/assign_pieces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <tuple>
#include <vector>

#include "match/pool.h"
#include "match/queue_helpers.h"
#include "rawin/decode_line_block.h"
#include "sim/line_encoder.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::assign_queue;
using testing::TestRun;
using testing::used_slots;

LineRecord line(double y, std::initializer_list<Run> runs) {
  LineRecord r;
  r.y_count = y;
  for (const Run& run : runs) r.runs[r.n_runs++] = run;
  return r;
}

struct AssignRun : TestRun {
  AssignRun() { label_queues(*ctx); }
  // Cuts the lines into pieces on camera A's queues.
  int assign(const std::vector<LineRecord>& lines) {
    LineBlock block;
    block.n_lin = static_cast<int16_t>(lines.size());
    block.lines = lines.data();
    return assign_pieces(*ctx, block, ctx->queues_a);
  }
  std::vector<Piece*> pieces() { return assign_queue(ctx->queues_a); }
};

TEST(AssignPieces, OverlappingRunsOfConsecutiveLinesFormOnePiece) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(101, {{10, 14}}), line(102, {{10, 14}})}), 1);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  const Piece* p = v[0];
  EXPECT_EQ(p->line_no, 3);
  EXPECT_EQ(p->x_min, 10);
  EXPECT_EQ(p->x_max, 14);
  EXPECT_EQ(p->width, 4);
  EXPECT_EQ(p->first_line, 100.0);
  EXPECT_EQ(p->last_line, 102.0);
  EXPECT_EQ(p->owner, '1');
  EXPECT_EQ(p->overflow, 0);
}

TEST(AssignPieces, AMissingLineSplitsAndBothOneLinePiecesAreDiscarded) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(102, {{10, 14}})}), 2);
  EXPECT_TRUE(t.pieces().empty());
  EXPECT_EQ(used_slots(*t.ctx), 0);
}

TEST(AssignPieces, ARepeatedLineNumberJoinsNothing) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(100, {{10, 14}}), line(101, {{10, 14}})}), 2);
  // The second line 100 opened its own piece; line 101 joins the newest one, that piece.
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->line_no, 2);
}

TEST(AssignPieces, RunsMustOverlapTheLastStoredRunTouchingCounts) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(101, {{15, 20}})}), 2);
  EXPECT_TRUE(t.pieces().empty());

  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(101, {{14, 20}})}), 1);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->x_min, 10);
  EXPECT_EQ(v[0]->x_max, 20);
  EXPECT_EQ(v[0]->width, 6);
  unlink_assign(*t.ctx, v[0], t.ctx->queues_a);

  // Touching on the left side too.
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(101, {{5, 10}})}), 1);
  ASSERT_EQ(t.pieces().size(), 1u);
}

TEST(AssignPieces, OverlapIsTestedAgainstTheLastRunNotTheWholeExtent) {
  AssignRun t;
  // The piece spans 10..40 after two lines, but its last run is 30..40: a run at 12..15 in the
  // next line does not continue it.
  EXPECT_EQ(
      t.assign({line(100, {{10, 20}}), line(101, {{18, 40}}), line(102, {{30, 40}}), line(103, {{12, 15}})}),
      2);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->line_no, 3);
  EXPECT_EQ(v[0]->last_line, 102.0);
}

TEST(AssignPieces, SecondRunOverlappingTheSamePieceOpensANewOne) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 20}}), line(101, {{10, 12}, {18, 20}})}), 2);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->line_no, 2);
  EXPECT_EQ(v[0]->runs[1].start, 10);
  EXPECT_EQ(v[0]->runs[1].end, 12);
}

TEST(AssignPieces, ARunOverlappingTwoPiecesGoesToTheNewest) {
  AssignRun t;
  // Two pieces side by side, then one wide run over both of them.
  EXPECT_EQ(t.assign({line(100, {{10, 14}, {20, 24}}), line(101, {{10, 24}}), line(102, {{10, 24}})}), 2);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->first_line, 100.0);
  EXPECT_EQ(v[0]->runs[0].start, 20) << "the piece opened second (nearer the head) took the run";
  EXPECT_EQ(v[0]->line_no, 3);
  EXPECT_EQ(v[0]->x_min, 10);
  EXPECT_EQ(v[0]->x_max, 24);
}

TEST(AssignPieces, WidthCountsOnlyLinesAfterTheFirst) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 30}}), line(101, {{12, 14}})}), 1);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->width, 2);
  EXPECT_EQ(v[0]->x_min, 10);
  EXPECT_EQ(v[0]->x_max, 30);
}

TEST(AssignPieces, PiecesOnePixelWideAreDiscarded) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 10}, {20, 21}}), line(101, {{10, 10}, {21, 21}})}), 2);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->x_min, 20);
  EXPECT_EQ(v[0]->x_max, 21);
  EXPECT_EQ(v[0]->width, 0);
}

TEST(AssignPieces, A601stLineOverflowsThePieceWhichIsDiscarded) {
  AssignRun t;
  std::vector<LineRecord> lines;
  for (int i = 0; i < MAXLIN; ++i) lines.push_back(line(1000 + i, {{100, 110}}));
  EXPECT_EQ(t.assign(lines), 1);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->line_no, MAXLIN);
  EXPECT_EQ(v[0]->overflow, 0);
  unlink_assign(*t.ctx, v[0], t.ctx->queues_a);

  // Line 601 joins and sets the mark; line 602 is absorbed too instead of opening a piece; a
  // second streak beside it survives.
  lines.push_back(line(1000 + MAXLIN, {{90, 100}, {300, 301}}));
  lines.push_back(line(1001 + MAXLIN, {{95, 97}, {300, 305}}));
  EXPECT_EQ(t.assign(lines), 2);
  v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->x_min, 300);
  EXPECT_EQ(used_slots(*t.ctx), 1);
}

TEST(AssignPieces, OverflowedPieceKeepsExtentsAndOverwritesItsLastRun) {
  AssignRun t;
  std::vector<LineRecord> lines;
  for (int i = 0; i < MAXLIN; ++i) lines.push_back(line(i, {{100, 110}}));
  lines.push_back(line(MAXLIN, {{90, 130}}));
  // The piece is freed at the end of the block; a freed slot keeps its fields until it is taken
  // again, so they show what the overflow did.
  EXPECT_EQ(t.assign(lines), 1);
  const Piece& slot = t.ctx->pool.slots[0];
  EXPECT_EQ(slot.owner, 0) << "discarded";
  EXPECT_EQ(slot.overflow, 1);
  EXPECT_EQ(slot.line_no, MAXLIN);
  EXPECT_EQ(slot.x_min, 100);
  EXPECT_EQ(slot.x_max, 110);
  EXPECT_EQ(slot.width, 10);
  EXPECT_EQ(slot.last_line, static_cast<double>(MAXLIN));
  EXPECT_EQ(slot.runs[MAXLIN - 1].start, 90);
  EXPECT_EQ(slot.runs[MAXLIN - 1].end, 130);
}

TEST(AssignPieces, EmptyBlockAndLinesWithoutRunsOpenNothing) {
  AssignRun t;
  EXPECT_EQ(t.assign({}), 0);
  EXPECT_EQ(t.assign({line(5, {}), line(6, {})}), 0);
  EXPECT_TRUE(t.pieces().empty());
  EXPECT_EQ(t.out(), "");
}

TEST(AssignPieces, AssignQueueIsOrderedByFirstLineFromTheTail) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(1, {{0, 3}}), line(2, {{0, 3}, {10, 13}}), line(3, {{10, 13}, {20, 23}}),
                      line(4, {{20, 23}})}),
            3);
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(testing::first_lines(v), (std::vector<double>{1, 2, 3}));
}

TEST(AssignPieces, FullPoolMidBlockEmptiesTheQueuesAndGoesOn) {
  AssignRun t;
  RunContext& c = *t.ctx;
  // Camera B holds 899 waiting pieces: the first run of line 100 takes the last slot, the second
  // one finds the pool full.
  for (int i = 0; i < POOL_SIZE - 1; ++i) new_piece(c, 0, 3, i, c.queues_b);
  chain_queues(c, c.queues_b);
  EXPECT_EQ(t.assign({line(100, {{0, 5}, {10, 15}}), line(101, {{0, 5}, {10, 15}})}), 3);
  EXPECT_EQ(t.err(), "queues emptied by force !");
  EXPECT_EQ(c.queues_b.wait_head, nullptr);
  // The piece at 0..5 was lost with the rest, so its run in line 101 opens a one-line piece
  // (discarded); the piece at 10..15 goes on from line 100.
  auto v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->x_min, 10);
  EXPECT_EQ(v[0]->line_no, 2);
}

// ---- Randomized: separated synthetic particles.

struct Particle {
  double first = 0;
  std::vector<Run> runs;  // one per line, consecutive line numbers from `first`
};

struct ExpectedPiece {
  int16_t x_min, x_max, width, line_no;
  double first_line, last_line;
  auto key() const { return std::tie(first_line, x_min, x_max, width, line_no, last_line); }
  bool operator<(const ExpectedPiece& o) const { return key() < o.key(); }
  bool operator==(const ExpectedPiece& o) const { return key() == o.key(); }
};

// Particles in six pixel lanes with at least two free pixels between lanes, so that runs of
// different lanes never touch; within a lane, particles follow each other with at least one line
// without it in between. Consecutive runs of one particle always overlap.
struct Synth {
  std::vector<Particle> particles;
  std::vector<LineRecord> lines;
};

Synth make_particles(std::mt19937& rng, double y0, int span) {
  constexpr int kLanes = 6, kLaneWidth = 170, kLaneUse = 168;
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Synth s;
  int budget = 800;  // pieces opened per block stay below the pool's size
  for (int lane = 0; lane < kLanes; ++lane) {
    const int lo = lane * kLaneWidth, hi = lo + kLaneUse - 1;
    int at = uni(0, 20);
    while (budget > 0) {
      int len = uni(0, 9) == 0 ? 1 : uni(2, 60);
      if (uni(0, 150) == 0) len = uni(MAXLIN - 2, MAXLIN + 3);  // around the overflow limit
      len = std::min(len, span - at);
      if (len < 1) break;
      const bool thin = uni(0, 10) == 0;  // one pixel column: discarded
      Particle p;
      p.first = y0 + at;
      int start = uni(lo, hi), end = thin ? start : std::min(hi, start + uni(0, 30));
      for (int k = 0; k < len; ++k) {
        if (k > 0 && !thin) {
          int ns = uni(std::max(lo, start - 8), end);
          int ne = uni(std::max(ns, start), std::min(hi, std::max(ns, start) + 30));
          start = ns;
          end = ne;
        }
        p.runs.push_back({static_cast<int16_t>(start), static_cast<int16_t>(end)});
      }
      s.particles.push_back(p);
      --budget;
      at += len + 1 + uni(0, 6);
    }
  }
  // Lines in time order; runs of a line left to right (lanes are ordered by position).
  std::vector<std::vector<Run>> by_line(span);
  for (const Particle& p : s.particles) {
    for (size_t k = 0; k < p.runs.size(); ++k)
      by_line[static_cast<int>(p.first - y0) + k].push_back(p.runs[k]);
  }
  for (int i = 0; i < span; ++i) {
    if (by_line[i].empty()) continue;  // a line without shadow is not stored
    std::sort(by_line[i].begin(), by_line[i].end(),
              [](const Run& a, const Run& b) { return a.start < b.start; });
    LineRecord r;
    r.y_count = y0 + i;
    for (const Run& run : by_line[i]) r.runs[r.n_runs++] = run;
    s.lines.push_back(r);
  }
  return s;
}

// What the discard rules keep of the particles, computed from the particles themselves.
std::vector<ExpectedPiece> kept_pieces(const std::vector<Particle>& particles) {
  std::vector<ExpectedPiece> out;
  for (const Particle& p : particles) {
    const int n = static_cast<int>(p.runs.size());
    if (n < 2 || n > MAXLIN) continue;
    ExpectedPiece e{p.runs[0].start, p.runs[0].end, 0, static_cast<int16_t>(n), p.first, p.first + n - 1};
    for (int k = 0; k < n; ++k) {
      e.x_min = std::min(e.x_min, p.runs[k].start);
      e.x_max = std::max(e.x_max, p.runs[k].end);
      if (k > 0) e.width = std::max<int16_t>(e.width, static_cast<int16_t>(p.runs[k].end - p.runs[k].start));
    }
    if (e.x_max - e.x_min + 1 < 2) continue;
    out.push_back(e);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(AssignPieces, SeparatedParticlesComeBackAsExactlyTheKeptPieces) {
  AssignRun t;
  RunContext& c = *t.ctx;
  std::mt19937 rng(20240611);
  int checked_pieces = 0;
  for (int round = 0; round < 40; ++round) {
    const double y0 = 1.0e6 + round * 5000.0;
    Synth s = make_particles(rng, y0, round % 5 == 0 ? 1999 : 300 + round * 20);
    // The lines travel as the instrument stores them: encoded into one block and decoded again.
    auto blocks = encode_line_blocks(s.lines);
    ASSERT_EQ(blocks.size(), 1u) << "round " << round;
    int16_t n_lin = 0;
    ASSERT_EQ(
        decode_line_block(c.dec, c.diag, blocks[0].data(), static_cast<int32_t>(blocks[0].size()), &n_lin), 1)
        << t.err();
    ASSERT_EQ(n_lin, static_cast<int16_t>(s.lines.size()));
    const int opened = assign_pieces(c, LineBlock{n_lin, c.dec.line_buf}, c.queues_a);
    EXPECT_EQ(opened, static_cast<int>(s.particles.size())) << "round " << round;

    auto got_pieces = t.pieces();
    std::vector<ExpectedPiece> got;
    for (const Piece* p : got_pieces) {
      got.push_back({p->x_min, p->x_max, p->width, p->line_no, p->first_line, p->last_line});
    }
    std::sort(got.begin(), got.end());
    std::vector<ExpectedPiece> want = kept_pieces(s.particles);
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    EXPECT_TRUE(got == want) << "round " << round;
    checked_pieces += static_cast<int>(want.size());

    // The stored runs are the particle's runs, line by line.
    for (const Piece* p : got_pieces) {
      auto it = std::find_if(s.particles.begin(), s.particles.end(), [&](const Particle& q) {
        return q.first == p->first_line && q.runs[0].start == p->runs[0].start;
      });
      ASSERT_NE(it, s.particles.end());
      for (int k = 0; k < p->line_no; ++k) {
        ASSERT_EQ(p->runs[k].start, it->runs[k].start);
        ASSERT_EQ(p->runs[k].end, it->runs[k].end);
      }
    }
    // The queue goes on to the wait queue in order, and is then cleared for the next block.
    chain_queues(c, c.queues_a);
    EXPECT_EQ(t.err(), "") << "round " << round;
    clear_w(c, c.queues_a);
    ASSERT_EQ(used_slots(c), 0);
  }
  EXPECT_GT(checked_pieces, 1000);
}

}  // namespace
}  // namespace quorda
