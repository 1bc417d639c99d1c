// Piece assignment: how runs of successive lines join into pieces, the tie rules, the overflow
// at MAXLIN lines, the discard rules, and a randomized check over separated synthetic particles.
#include "match/assign_pieces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>
#include <limits>
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

using testing::add_piece;
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
  AssignRun() { label_queues(ctx->queues_a, ctx->queues_b); }
  // Cuts the lines into pieces on camera A's queues.
  int assign(const std::vector<LineRecord>& lines) {
    LineBlock block;
    block.n_lin = static_cast<int16_t>(lines.size());
    block.lines = lines.data();
    return assign_pieces(ctx->match_part(), block, ctx->queues_a);
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
  EXPECT_EQ(p->owner, PieceOwner::kAssignA);
  EXPECT_EQ(p->overflow, false);
}

TEST(AssignPieces, AMissingLineSplitsAndBothOneLinePiecesAreDiscarded) {
  AssignRun t;
  EXPECT_EQ(t.assign({line(100, {{10, 14}}), line(102, {{10, 14}})}), 2);
  EXPECT_TRUE(t.pieces().empty());
  EXPECT_EQ(used_slots((*t.ctx).pool), 0);
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
  unlink_assign((*t.ctx).pool, (*t.ctx).diag, v[0], t.ctx->queues_a);

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
  EXPECT_EQ(v[0]->overflow, false);
  unlink_assign((*t.ctx).pool, (*t.ctx).diag, v[0], t.ctx->queues_a);

  // Line 601 joins and sets the mark; line 602 is absorbed too instead of opening a piece; a
  // second streak beside it survives.
  lines.push_back(line(1000 + MAXLIN, {{90, 100}, {300, 301}}));
  lines.push_back(line(1001 + MAXLIN, {{95, 97}, {300, 305}}));
  EXPECT_EQ(t.assign(lines), 2);
  v = t.pieces();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0]->x_min, 300);
  EXPECT_EQ(used_slots((*t.ctx).pool), 1);
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
  EXPECT_EQ(slot.owner, PieceOwner::kFree) << "discarded";
  EXPECT_EQ(slot.overflow, true);
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
  for (int i = 0; i < POOL_SIZE - 1; ++i) add_piece(c, 0, 3, i, c.queues_b);
  chain_queues(c.pool, c.diag, c.queues_b);
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

TEST(AssignPieces, PiecesLostToAFullPoolAreNotContinuedLaterInTheLine) {
  AssignRun t;
  RunContext& c = *t.ctx;
  // Line 100 takes the last two slots. The first run of line 101 finds the pool full and empties
  // the queues; its second run overlaps the lost piece at 10..15 and must open a piece of its own.
  for (int i = 0; i < POOL_SIZE - 2; ++i) add_piece(c, 0, 3, i, c.queues_b);
  chain_queues(c.pool, c.diag, c.queues_b);
  EXPECT_EQ(t.assign({line(100, {{0, 5}, {10, 15}}), line(101, {{20, 25}, {10, 15}})}), 4);
  EXPECT_EQ(t.err(), "queues emptied by force !");
  EXPECT_TRUE(t.pieces().empty());  // two one-line pieces, both discarded
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
    const int opened = assign_pieces(c.match_part(), LineBlock{n_lin, c.dec.line_buf}, c.queues_a);
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
    chain_queues(c.pool, c.diag, c.queues_a);
    EXPECT_EQ(t.err(), "") << "round " << round;
    free_wait_queue(c.pool, c.diag, c.queues_a);
    ASSERT_EQ(used_slots(c.pool), 0);
  }
  EXPECT_GT(checked_pieces, 1000);
}

// ---- Randomized: the assignment against a plain model that walks the whole queue for every run.

struct ModelPiece {
  int16_t x_min, x_max, width, line_no;
  double first_line, last_line;
  bool overflow;
  std::vector<Run> runs;
};

// The rules of the file header, written the plain way: the queue is a vector, newest first.
int model_assign(std::vector<ModelPiece>& queue, const std::vector<LineRecord>& lines, int* emptied) {
  int opened = 0;
  for (const LineRecord& line : lines) {
    const double y = line.y_count;
    for (int j = 0; j < line.n_runs; ++j) {
      const Run r = line.runs[j];
      ModelPiece* hit = nullptr;
      for (ModelPiece& p : queue) {
        const Run& last = p.runs[static_cast<size_t>(p.line_no - 1)];
        if (y - p.last_line == 1.0 && last.start <= r.end && last.end >= r.start) {
          hit = &p;
          break;
        }
      }
      if (hit == nullptr) {
        if (queue.size() == POOL_SIZE) {  // the pool is full: every queue is emptied
          queue.clear();
          ++*emptied;
        }
        ModelPiece n{r.start, r.end, 0, 1, y, y, false, std::vector<Run>(MAXLIN)};
        n.runs[0] = r;
        queue.insert(queue.begin(), n);
        ++opened;
        continue;
      }
      hit->last_line = y;
      if (hit->line_no >= MAXLIN) {
        hit->overflow = true;
        hit->runs[static_cast<size_t>(hit->line_no - 1)] = r;
        continue;
      }
      hit->x_min = std::min(hit->x_min, r.start);
      hit->x_max = std::max(hit->x_max, r.end);
      hit->width = std::max<int16_t>(hit->width, static_cast<int16_t>(r.end - r.start));
      hit->runs[static_cast<size_t>(hit->line_no++)] = r;
    }
  }
  std::erase_if(queue,
                [](const ModelPiece& p) { return p.overflow || p.x_max - p.x_min + 1 < 2 || p.line_no < 2; });
  return opened;
}

// Line numbers as the assignment may meet them: mostly consecutive whole numbers, with gaps, repeats,
// steps back, fractions, NaN and magnitudes where adding 1 is no longer exact; runs crowded into few
// pixels so that they touch often, and now and then a long single-run streak past MAXLIN lines.
std::vector<LineRecord> odd_block(std::mt19937& rng, double& y) {
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<LineRecord> lines(static_cast<size_t>(uni(1, kLineBufLines)));
  int streak = 0;
  for (LineRecord& l : lines) {
    if (streak > 0) {
      --streak;
      l.y_count = ++y;
      l.n_runs = 1;
      l.runs[0] = {static_cast<int16_t>(100 + uni(0, 2)), static_cast<int16_t>(104 + uni(0, 2))};
      continue;
    }
    switch (uni(0, 60)) {
      case 0:
        y += uni(2, 30);
        break;
      case 1:
        break;  // the same number again
      case 2:
        y -= uni(1, 5);
        break;
      case 3:
        y += 0.5;
        break;
      case 4:
        y = std::trunc(y) + 1;
        break;
      case 5:
        y = std::ldexp(1.0, 52) - uni(0, 3);
        break;
      case 6:
        y = std::ldexp(1.0, 53) + 2 * uni(0, 3);
        break;
      case 7:
        y = -1.0e6 - uni(0, 9);
        break;
      case 8:
        l.y_count = std::numeric_limits<double>::quiet_NaN();
        break;
      case 9:
        streak = uni(MAXLIN - 20, MAXLIN + 40);
        break;
      default:
        y += 1;
    }
    if (!std::isnan(l.y_count)) l.y_count = y;
    l.n_runs = static_cast<int16_t>(uni(0, 3) == 0 ? uni(0, kMaxRuns) : uni(1, 2));
    int at = uni(0, 40);
    for (int j = 0; j < l.n_runs; ++j) {
      const int start = uni(0, 3) == 0 ? uni(0, 60) : at;  // mostly left to right, sometimes not
      const int end = start + uni(-1, 12);
      l.runs[j] = {static_cast<int16_t>(start), static_cast<int16_t>(end)};
      at = end + uni(0, 4);
    }
  }
  return lines;
}

TEST(AssignPieces, AgreesWithAPlainWalkOfTheQueueOnOddLineNumbers) {
  AssignRun t;
  RunContext& c = *t.ctx;
  std::mt19937 rng(20261209);
  std::vector<ModelPiece> model;
  int emptied = 0;
  double y = 5000;
  for (int round = 0; round < 300; ++round) {
    // Kept pieces stay in the queue from block to block, so that a block starts with a queue.
    const std::vector<LineRecord> lines = odd_block(rng, y);
    const int want_opened = model_assign(model, lines, &emptied);
    const int opened = assign_pieces(c.match_part(),
                                     LineBlock{static_cast<int16_t>(lines.size()), lines.data()}, c.queues_a);
    ASSERT_EQ(opened, want_opened) << "round " << round;
    std::vector<Piece*> got = t.pieces();  // from the tail
    std::reverse(got.begin(), got.end());
    ASSERT_EQ(got.size(), model.size()) << "round " << round;
    for (size_t k = 0; k < got.size(); ++k) {
      const Piece& p = *got[k];
      const ModelPiece& m = model[k];
      ASSERT_EQ(std::tie(p.x_min, p.x_max, p.width, p.line_no, p.overflow),
                std::tie(m.x_min, m.x_max, m.width, m.line_no, m.overflow))
          << "round " << round << " piece " << k;
      ASSERT_EQ(std::bit_cast<uint64_t>(p.first_line), std::bit_cast<uint64_t>(m.first_line));
      ASSERT_EQ(std::bit_cast<uint64_t>(p.last_line), std::bit_cast<uint64_t>(m.last_line));
      for (int r = 0; r < p.line_no; ++r) {
        ASSERT_EQ(p.runs[r].start, m.runs[static_cast<size_t>(r)].start);
        ASSERT_EQ(p.runs[r].end, m.runs[static_cast<size_t>(r)].end);
      }
    }
  }
  EXPECT_GT(emptied, 0);  // the pool ran full now and then
}

}  // namespace
}  // namespace quorda
