// The line-block decoder: two frames decoded by hand, every failure message, the limits of its buffers.
#include "rawin/decode_line_block.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "rawin/frame_bytes.h"
#include "sim/line_encoder.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::add_frame;
using testing::block;
using testing::Field;
using testing::fmt;
using testing::FrameSpec;
using testing::TestRun;

struct Outcome {
  int result;
  int16_t n_lin;
};

Outcome decode(TestRun& t, const std::vector<uint8_t>& payload) {
  int16_t n = -99;
  int r =
      decode_line_block(t.ctx->dec, t.ctx->diag, payload.data(), static_cast<int32_t>(payload.size()), &n);
  return {r, n};
}

void expect_line(const LineRecord& rec, double y, std::vector<std::pair<int, int>> runs) {
  EXPECT_EQ(rec.y_count, y);
  ASSERT_EQ(rec.n_runs, static_cast<int16_t>(runs.size()));
  for (int j = 0; j < kMaxRuns; ++j) {
    int s = j < static_cast<int>(runs.size()) ? runs[j].first : 0;
    int e = j < static_cast<int>(runs.size()) ? runs[j].second : 0;
    EXPECT_EQ(rec.runs[j].start, s) << "run " << j << " at y " << y;
    EXPECT_EQ(rec.runs[j].end, e) << "run " << j << " at y " << y;
  }
}

// Frame of one line: frame length 16, base 100, widths 5 and 5, stream words 17061 and 0.
FrameSpec first_example(int length) {
  FrameSpec f = testing::frame(100, 5, 5, 1234.5, length);
  f.words = {17061, 0};
  if (length > 16) f.words.resize(static_cast<size_t>(length - 12) / 2, 0);
  return f;
}

// Frame of three lines, frame length 18, base 10, widths 4 and 4, y_count 500.
FrameSpec second_example(int length) {
  FrameSpec f = testing::frame(10, 4, 4, 500, length);
  f.words = {37426, 138, 0};
  if (length > 18) f.words.resize(static_cast<size_t>(length - 12) / 2, 0);
  return f;
}

std::string no_data(const char* tag) {
  return std::string(tag) + ": " + std::strerror(ENODATA) + "\n";
}

TEST(DecodeLineBlock, FirstWorkedFrameGivesOneRunAndEndsAtItsLength) {
  TestRun t;
  Outcome o = decode(t, block(1, {first_example(16)}));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.n_lin, 1);
  expect_line(t.ctx->dec.line_buf[0], 1234.5, {{105, 110}});
  EXPECT_EQ(t.ctx->dec.end_offset, 16);
  EXPECT_EQ(t.err(), "");
}

TEST(DecodeLineBlock, FirstWorkedFrameWithLength18ReportsUnreadWords) {
  TestRun t;
  Outcome o = decode(t, block(1, {first_example(18)}));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(t.err(), "wrong end of frame: diff =-2 y_count=1235.500000 !!!\n");
}

TEST(DecodeLineBlock, SecondWorkedFrameGivesALineAndTwoRepetitions) {
  TestRun t;
  Outcome o = decode(t, block(3, {second_example(18)}));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.n_lin, 3);
  for (int k = 0; k < 3; ++k) expect_line(t.ctx->dec.line_buf[k], 500 + k, {{12, 15}, {17, 18}});
  EXPECT_EQ(t.ctx->dec.end_offset, 18);
  EXPECT_EQ(t.err(), "");

  t.clear_streams();
  o = decode(t, block(3, {second_example(20)}));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(t.err(), "wrong end of frame: diff =-2 y_count=503.000000 !!!\n");
}

TEST(DecodeLineBlock, BytesPastTheFrameReadAsZerosNotAsAnEarlierFrame) {
  // Cut to 14 bytes, the three-line frame loses its second word; the decoder must see zeros
  // there even when the buffer still holds that word from the frame before.
  TestRun fresh;
  FrameSpec cut = second_example(14);
  cut.words = {37426};
  Outcome alone = decode(fresh, block(3, {cut}));

  TestRun t;
  ASSERT_EQ(decode(t, block(3, {second_example(18)})).result, 1);
  t.clear_streams();
  Outcome after = decode(t, block(3, {cut}));
  EXPECT_EQ(after.result, alone.result);
  EXPECT_EQ(after.result, 0);
  EXPECT_EQ(t.err(), "j=6\n");
  EXPECT_EQ(fresh.err(), "j=6\n");
}

TEST(DecodeLineBlock, CountZeroOrNegativeSkipsTheBlockAndReadsNothingElse) {
  for (int16_t count : {int16_t{0}, int16_t{-5}}) {
    TestRun t;
    std::vector<uint8_t> p = block(count, {first_example(16)});
    Outcome o = decode(t, p);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.n_lin, 0);
    EXPECT_EQ(t.err(), " decmpr failed, block skipped \n");
  }
}

TEST(DecodeLineBlock, RepetitionAfterACodedLineGivesConsecutiveEqualLines) {
  TestRun t;
  FrameSpec f = testing::frame(0, 4, 4, 40);
  f.fields = {{4, 5, false}, {4, 2, true}, {4, 3, true}, {4, 0, true}};
  Outcome o = decode(t, block(4, {f}));
  ASSERT_EQ(o.result, 1);
  for (int k = 0; k < 4; ++k) expect_line(t.ctx->dec.line_buf[k], 40 + k, {{5, 7}});
}

TEST(DecodeLineBlock, SixRunsAreAcceptedAndASeventhRejectsTheBlock) {
  auto six_runs = [](bool seventh) {
    FrameSpec f = testing::frame(0, 4, 4, 7);
    for (int j = 0; j < 6; ++j) {
      f.fields.push_back({4, 1, false});
      f.fields.push_back({4, 1, !seventh && j == 5});
    }
    if (seventh) f.fields.push_back({4, 1, false});
    f.fields.push_back({4, 1, true});
    f.fields.push_back({4, 0, true});
    return f;
  };
  TestRun t;
  FrameSpec ok = six_runs(false);
  ok.fields.erase(ok.fields.end() - 2);  // no repetition after the line
  Outcome o = decode(t, block(1, {ok}));
  ASSERT_EQ(o.result, 1);
  expect_line(t.ctx->dec.line_buf[0], 7, {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}, {11, 12}});

  TestRun bad;
  o = decode(bad, block(1, {six_runs(true)}));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(bad.err(), "j=6\n");
}

TEST(DecodeLineBlock, ZeroPositionPlacesRunsAtBaseAndAtThePreviousEnd) {
  TestRun t;
  FrameSpec f = testing::frame(7, 3, 3, 0);
  f.fields = {{3, 0, false}, {3, 3, false}, {3, 0, false}, {3, 2, true}, {3, 0, true}};
  ASSERT_EQ(decode(t, block(1, {f})).result, 1);
  expect_line(t.ctx->dec.line_buf[0], 0, {{7, 10}, {10, 12}});
}

TEST(DecodeLineBlock, SecondFrameTakesItsOwnLineNumberAndTheSavedLineCarriesOver) {
  TestRun t;
  FrameSpec a = testing::frame(20, 4, 4, 100);
  a.fields = {{4, 1, false}, {4, 4, true}, {4, 0, true}};
  FrameSpec b = testing::frame(300, 5, 5, 250);
  b.fields = {{5, 2, true}, {5, 6, false}, {5, 1, true}, {5, 0, true}};
  Outcome o = decode(t, block(4, {a, b}));
  ASSERT_EQ(o.result, 1);
  expect_line(t.ctx->dec.line_buf[0], 100, {{21, 25}});
  expect_line(t.ctx->dec.line_buf[1], 250, {{21, 25}});
  expect_line(t.ctx->dec.line_buf[2], 251, {{21, 25}});
  expect_line(t.ctx->dec.line_buf[3], 252, {{306, 307}});
  EXPECT_EQ(t.err(), "");
}

// The decoder tells whether its lines rise: frames of whole numbers that start above the line
// before them do; a frame that starts at or below it, or a frame whose number is not whole, does
// not count as rising (line 2 of three lines at 100, 101 and then `second`).
TEST(DecodeLineBlock, LinesRiseWhenEveryFrameStartsAboveTheLineBeforeIt) {
  struct Case {
    double second;
    bool rise;
  };
  for (Case c : {Case{102, true}, Case{5000, true}, Case{101, false}, Case{50, false}, Case{101.5, false},
                 Case{-102, false}, Case{9007199254740992.0, false}, Case{NAN, false}}) {
    TestRun t;
    FrameSpec a = testing::frame(20, 4, 4, 100);
    a.fields = {{4, 1, false}, {4, 4, true}, {4, 1, true}, {4, 0, true}};
    FrameSpec b = testing::frame(300, 5, 5, c.second);
    b.fields = {{5, 6, false}, {5, 1, true}, {5, 0, true}};
    // An empty frame between them changes nothing: it has no lines.
    FrameSpec e = testing::frame(0, 4, 4, 0);
    e.fields = {{4, 0, true}};
    ASSERT_EQ(decode(t, block(3, {a, e, b})).result, 1) << c.second;
    EXPECT_EQ(t.ctx->dec.lines_rise, c.rise) << c.second;
    expect_line(t.ctx->dec.line_buf[1], 101, {{21, 25}});
  }
}

TEST(DecodeLineBlock, RepetitionBeforeAnyCodedLineRejectsTheBlock) {
  TestRun t;
  FrameSpec f = testing::frame(0, 4, 4, 12.25);
  f.fields = {{4, 2, true}, {4, 0, true}};
  EXPECT_EQ(decode(t, block(3, {f})).result, 0);
  EXPECT_EQ(t.err(), "y_count=12.250000\nrepet found : i=0 light=2 n_lin=3 \nerror 02 \n");
}

TEST(DecodeLineBlock, FlaggedPositionInsideALineRejectsTheBlock) {
  TestRun t;
  FrameSpec f = testing::frame(0, 4, 4, 3);
  f.fields = {{4, 4, false}, {4, 2, false}, {4, 3, true}, {4, 0, true}};
  EXPECT_EQ(decode(t, block(1, {f})).result, 0);
  EXPECT_EQ(t.err(), "y_count=3.000000\n   4-  6\nerr.01: n_lin=1 i=0 j=1 \n");
}

TEST(DecodeLineBlock, MoreLinesThanAnnouncedKeepsTheAnnouncedOnes) {
  TestRun t;
  FrameSpec f = testing::frame(0, 4, 4, 9);
  f.fields = {{4, 1, false}, {4, 1, true}, {4, 2, false}, {4, 2, true}, {4, 0, true}};
  Outcome o = decode(t, block(1, {f}));
  EXPECT_EQ(o.result, 1);
  expect_line(t.ctx->dec.line_buf[0], 9, {{1, 2}});
  EXPECT_EQ(t.err(), "decmpr: i=1 n_lin=1 \n");

  TestRun r;
  FrameSpec g = testing::frame(0, 4, 4, 9);
  g.fields = {{4, 1, false}, {4, 1, true}, {4, 5, true}, {4, 0, true}};
  o = decode(r, block(3, {g}));
  EXPECT_EQ(o.result, 1);
  for (int k = 0; k < 3; ++k) expect_line(r.ctx->dec.line_buf[k], 9 + k, {{1, 2}});
  EXPECT_EQ(r.err(), "i=3 k=2 light=5 n_lin=3 \ndecmpr: i=3 \n");
}

std::vector<LineRecord> distinct_lines(int n, double y0, int gap_at) {
  std::vector<LineRecord> lines(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    LineRecord& l = lines[static_cast<size_t>(k)];
    l.y_count = y0 + k + (k >= gap_at ? 10 : 0);
    l.n_runs = 1;
    l.runs[0] = {static_cast<int16_t>(k % 1000), static_cast<int16_t>(k % 1000 + 1 + k % 3)};
  }
  return lines;
}

TEST(DecodeLineBlock, BlockAnnouncingMoreThan2000LinesIsCutToTheFirst2000) {
  // Once inside a frame, once where a frame ends exactly at line 2000.
  for (int gap_at : {5000, 2000}) {
    std::vector<LineRecord> lines = distinct_lines(2500, 1e6, gap_at);
    EncodeLimits lim;
    lim.max_lines = 2500;
    auto blocks = encode_line_blocks(lines, lim);
    ASSERT_EQ(blocks.size(), 1u);
    TestRun t;
    Outcome o = decode(t, blocks[0]);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.n_lin, 2500);
    for (int k = 0; k < 2000; k += 111) {
      const LineRecord& got = t.ctx->dec.line_buf[k];
      EXPECT_EQ(got.y_count, lines[static_cast<size_t>(k)].y_count);
      EXPECT_EQ(got.runs[0].end, lines[static_cast<size_t>(k)].runs[0].end);
    }
    EXPECT_EQ(t.ctx->dec.line_buf[1999].y_count, lines[1999].y_count);
    EXPECT_EQ(t.err(), "decmpr: i=2000 n_lin=2500 \n");
  }
}

TEST(DecodeLineBlock, ShortPayloadReportsTheReadThatFailedAndRejectsTheBlock) {
  std::vector<uint8_t> whole = block(1, {first_example(16)});
  struct Case {
    size_t len;
    const char* tag;
  } cases[] = {{0, "decmpr01"}, {1, "decmpr01"},  {2, "decmpr02"},  {5, "decmpr02"},
               {6, "decmpr03"}, {13, "decmpr03"}, {14, "decmpr04"}, {17, "decmpr04"}};
  for (const Case& c : cases) {
    TestRun t;
    std::vector<uint8_t> p(whole.begin(), whole.begin() + static_cast<long>(c.len));
    Outcome o = decode(t, p);
    EXPECT_EQ(o.result, 0) << c.len;
    EXPECT_EQ(t.err(), no_data(c.tag)) << c.len;
  }
  // The frames end before the announced lines are decoded.
  TestRun t;
  EXPECT_EQ(decode(t, block(2, {first_example(16)})).result, 0);
  EXPECT_EQ(t.err(), no_data("decmpr02"));
}

TEST(DecodeLineBlock, FrameShorterThanItsHeadOrWithAZeroWidthIsRejected) {
  TestRun t;
  FrameSpec f = first_example(16);
  f.length = 11;
  f.words.clear();
  EXPECT_EQ(decode(t, block(1, {f})).result, 0);
  EXPECT_EQ(t.err(), "decmpr: frame length 11 shorter than its head y_count=1234.500000, block skipped \n");

  for (auto [wp, wl] : {std::pair{0, 5}, std::pair{5, 0}}) {
    TestRun z;
    FrameSpec g = first_example(16);
    g.w_pos = wp;
    g.w_len = wl;
    EXPECT_EQ(decode(z, block(1, {g})).result, 0);
    EXPECT_EQ(z.err(),
              fmt("decmpr: field width 0 (w_pos=%d w_len=%d) y_count=1234.500000, block skipped \n", wp, wl));
  }
}

// A frame of `lines` six-run lines in 8-bit fields (six stream words each) and the end code.
FrameSpec six_run_frame(int lines, int length) {
  FrameSpec f = testing::frame(0, 8, 8, 77, length);
  for (int k = 0; k < lines; ++k) {
    for (int j = 0; j < 6; ++j) {
      f.fields.push_back({8, 1, false});
      f.fields.push_back({8, static_cast<uint32_t>(k % 100), j == 5});
    }
  }
  f.fields.push_back({8, 0, true});
  return f;
}

TEST(DecodeLineBlock, ReadBeyondTheFrameBufferRejectsTheBlock) {
  // The end code in stream word 8178: the look-ahead word ends at byte 16372, inside the buffer.
  TestRun t;
  Outcome o = decode(t, block(1363, {six_run_frame(1363, 16372)}));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(t.err(), "");
  expect_line(t.ctx->dec.line_buf[1362], 77 + 1362,
              {{1, 63}, {64, 126}, {127, 189}, {190, 252}, {253, 315}, {316, 378}});

  // The end code in word 8184: its look-ahead word would lie at bytes 16382 and 16383.
  TestRun past;
  o = decode(past, block(1364, {six_run_frame(1364, 16382)}));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(past.err(),
            "decmpr: frame read beyond its 16383-byte buffer y_count=1441.000000, block skipped \n");

  // A full-length frame whose lines go on past its end.
  TestRun endless;
  o = decode(endless, block(2000, {six_run_frame(1500, 16383)}));
  EXPECT_EQ(o.result, 0);
  EXPECT_NE(endless.err().find("frame read beyond its 16383-byte buffer"), std::string::npos)
      << endless.err();
}

}  // namespace
}  // namespace quorda
