// The line encoder: the two hand-decoded frames bit for bit, and round trips through the decoder.
#include "sim/line_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "base/bytes.h"
#include "format/main_header.h"
#include "format/raw_record.h"
#include "rawin/decode_line_block.h"
#include "rawin/frame_bytes.h"
#include "rawin/raw_file.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;

LineRecord line(double y, std::vector<std::pair<int, int>> runs) {
  LineRecord l;
  l.y_count = y;
  l.n_runs = static_cast<int16_t>(runs.size());
  for (size_t j = 0; j < runs.size(); ++j) {
    l.runs[j] = {static_cast<int16_t>(runs[j].first), static_cast<int16_t>(runs[j].second)};
  }
  return l;
}

bool same_line(const LineRecord& a, const LineRecord& b) {
  if (a.y_count != b.y_count || a.n_runs != b.n_runs) return false;
  for (int j = 0; j < kMaxRuns; ++j) {
    const Run want = j < b.n_runs ? b.runs[j] : Run{};
    if (a.runs[j].start != want.start || a.runs[j].end != want.end) return false;
  }
  return true;
}

std::vector<uint8_t> words_payload(int16_t n_lin, uint32_t word, double y, std::vector<uint16_t> words) {
  std::vector<uint8_t> p(2 + 12 + 2 * words.size());
  put_i16(p.data(), n_lin);
  put_u32(&p[2], word);
  put_f64(&p[6], y);
  for (size_t k = 0; k < words.size(); ++k) put_u16(&p[14 + 2 * k], words[k]);
  return p;
}

TEST(LineEncoder, ReproducesTheFirstWorkedFrameBitForBit) {
  EncodeLimits shape;
  shape.fixed_base = 100;
  shape.fixed_w_pos = 5;
  shape.fixed_w_len = 5;
  std::vector<LineRecord> lines = {line(1234.5, {{105, 110}})};
  auto blocks = encode_line_blocks(lines, shape);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], words_payload(1, testing::frame_word(16, 100, 5, 5), 1234.5, {17061, 0}));
}

TEST(LineEncoder, ReproducesTheSecondWorkedFrameBitForBit) {
  EncodeLimits shape;
  shape.fixed_base = 10;
  shape.fixed_w_pos = 4;
  shape.fixed_w_len = 4;
  std::vector<LineRecord> lines;
  for (int k = 0; k < 3; ++k) lines.push_back(line(500 + k, {{12, 15}, {17, 18}}));
  auto blocks = encode_line_blocks(lines, shape);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], words_payload(3, testing::frame_word(18, 10, 4, 4), 500, {37426, 138, 0}));
}

TEST(LineEncoder, ChoosesTheSmallestShapeThatHoldsTheValues) {
  // Starts 12 and 30 from base 12: position values up to 18 need 5 bits and a flag; lengths up
  // to 3 need 2 bits and a flag.
  std::vector<LineRecord> lines = {line(1, {{12, 15}}), line(2, {{30, 31}, {33, 33}})};
  auto blocks = encode_line_blocks(lines);
  ASSERT_EQ(blocks.size(), 1u);
  uint32_t word = get_u32(&blocks[0][2]);
  EXPECT_EQ(word >> 28, 6u);             // w_pos
  EXPECT_EQ((word >> 24) & 0xF, 3u);     // w_len
  EXPECT_EQ((word >> 14) & 0x3FF, 12u);  // base
  // Six fields of 6 and 3 bits before the end code (27 bits): it begins in word 1.
  EXPECT_EQ(word & 0x3FFF, 12u + 2 * (1 + 2));
  EXPECT_EQ(blocks[0].size(), 2u + (word & 0x3FFF));
}

TEST(LineEncoder, FixedShapeThatCannotHoldAValueAndBadLinesAreRefused) {
  EncodeLimits shape;
  shape.fixed_base = 100;
  shape.fixed_w_pos = 3;
  shape.fixed_w_len = 3;
  std::vector<LineRecord> too_far = {line(0, {{110, 111}})};
  EXPECT_THROW(encode_line_blocks(too_far, shape), std::invalid_argument);
  std::vector<LineRecord> falling = {line(5, {{1, 2}}), line(5, {{1, 3}})};
  EXPECT_THROW(encode_line_blocks(falling), std::invalid_argument);
  std::vector<LineRecord> overlapping = {line(5, {{1, 4}, {3, 6}})};
  EXPECT_THROW(encode_line_blocks(overlapping), std::invalid_argument);
  std::vector<LineRecord> outside = {line(5, {{1000, 1024}})};
  EXPECT_THROW(encode_line_blocks(outside), std::invalid_argument);
  std::vector<LineRecord> none = {line(5, {})};
  EXPECT_THROW(encode_line_blocks(none), std::invalid_argument);
}

// Random lines: one to six runs anywhere in 0..1023, runs of equal lines, gaps between frames,
// and lines equal to the last coded one after a gap.
std::vector<LineRecord> random_lines(std::mt19937& rng, int n) {
  std::vector<LineRecord> lines;
  double y = 1000.0 * (rng() % 5000);
  LineRecord last_coded;
  for (int k = 0; k < n; ++k) {
    unsigned pick = rng() % 100;
    if (k > 0 && pick < 10) y += 1 + rng() % 3000;  // a gap
    LineRecord l;
    if (k > 0 && pick % 3 == 0) {
      l = last_coded;  // equal to the last coded line
    } else {
      int runs = 1 + static_cast<int>(rng() % 6);
      if (rng() % 4 == 0) runs = 6;
      std::vector<int> cuts;
      for (int j = 0; j < 2 * runs; ++j) cuts.push_back(static_cast<int>(rng() % 1024));
      if (rng() % 8 == 0) cuts.back() = 1023;
      std::sort(cuts.begin(), cuts.end());
      l.n_runs = static_cast<int16_t>(runs);
      for (int j = 0; j < runs; ++j) {
        l.runs[j] = {static_cast<int16_t>(cuts[2 * j]), static_cast<int16_t>(cuts[2 * j + 1])};
      }
      last_coded = l;
    }
    l.y_count = y;
    lines.push_back(l);
    y += 1;
  }
  return lines;
}

// Decodes every block and checks the lines come back as they went in, each block and frame
// within the limits and each frame exactly as long as the decoder reads.
void round_trip(const std::vector<LineRecord>& lines, const EncodeLimits& lim) {
  auto blocks = encode_line_blocks(lines, lim);
  TestRun t;
  size_t next = 0;
  for (const auto& b : blocks) {
    ASSERT_LE(b.size(), static_cast<size_t>(lim.max_payload));
    int16_t n = 0;
    ASSERT_EQ(decode_line_block(t.ctx->dec, t.ctx->diag, b.data(), static_cast<int32_t>(b.size()), &n), 1)
        << t.err();
    ASSERT_GE(n, 1);
    ASSERT_LE(n, lim.max_lines);
    size_t at = 2;
    int32_t last_len = 0;
    while (at < b.size()) {
      last_len = static_cast<int32_t>(get_u32(&b[at]) & 0x3FFF);
      ASSERT_LE(last_len, lim.max_frame);
      at += static_cast<size_t>(last_len);
    }
    ASSERT_EQ(at, b.size());
    EXPECT_EQ(t.ctx->dec.end_offset, last_len);
    for (int k = 0; k < n; ++k) {
      ASSERT_LT(next, lines.size());
      ASSERT_TRUE(same_line(t.ctx->dec.line_buf[k], lines[next])) << "line " << next;
      ++next;
    }
  }
  EXPECT_EQ(next, lines.size());
  EXPECT_EQ(t.err(), "");
}

TEST(LineEncoder, RandomLineSetsComeBackUnchanged) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 40; ++round) {
    round_trip(random_lines(rng, 1 + static_cast<int>(rng() % 4000)), EncodeLimits{});
  }
}

TEST(LineEncoder, SmallLimitsSplitFramesAndBlocksAndStillComeBack) {
  std::mt19937 rng(77);
  for (int round = 0; round < 30; ++round) {
    EncodeLimits lim;
    lim.max_lines = 1 + static_cast<int>(rng() % 300);
    lim.max_frame = 40 + static_cast<int>(rng() % 400);
    lim.max_payload = lim.max_frame + 2 + static_cast<int>(rng() % 2000);
    round_trip(random_lines(rng, 1 + static_cast<int>(rng() % 3000)), lim);
  }
}

TEST(LineEncoder, LongRunsOfLinesFillBlocksToTheirLimits) {
  // Consecutive six-run lines, no two alike, with 11-bit positions and lengths: frames reach the
  // 16383-byte limit, and blocks the 32767-byte one before 2000 lines.
  std::vector<LineRecord> lines;
  for (int k = 0; k < 9000; ++k) {
    if (k % 2 == 0) {
      lines.push_back(
          line(k, {{0, 1000}, {1001, 1004}, {1005, 1008}, {1010, 1012}, {1014, 1016}, {1018, 1020 + k % 3}}));
    } else {
      lines.push_back(line(
          k, {{1000, 1001}, {1002, 1003}, {1004, 1005}, {1006, 1007}, {1008, 1009}, {1010, 1011 + k % 5}}));
    }
  }
  round_trip(lines, EncodeLimits{});
  auto blocks = encode_line_blocks(lines);
  ASSERT_GT(blocks.size(), 4u);
  EXPECT_GT(blocks[0].size(), 32000u);
  EXPECT_LT(get_i16(blocks[0].data()), 2000);
  EXPECT_GT(get_u32(&blocks[0][2]) & 0x3FFF, 16000u);

  // Equal lines: 2000 per block, each block opening with a coded line.
  std::vector<LineRecord> same(4500, line(0, {{5, 9}}));
  for (size_t k = 0; k < same.size(); ++k) same[k].y_count = static_cast<double>(k);
  auto rep = encode_line_blocks(same);
  ASSERT_EQ(rep.size(), 3u);
  EXPECT_EQ(get_i16(rep[0].data()), 2000);
  EXPECT_EQ(get_i16(rep[2].data()), 500);
  round_trip(same, EncodeLimits{});
}

TEST(AppendRecord, WritesHeadAndPayloadThatTheCursorReadsBack) {
  std::vector<uint8_t> image;
  std::vector<uint8_t> payload = {1, 2, 3};
  append_record(image, 2, payload);
  RawMainHeader h;
  h.line_fr = 34100.5;
  h.gate1 = 12;
  h.valid_since = 1234567890u;
  append_main_header_record(image, h);
  ASSERT_EQ(image.size(), 4u + 3u + 4u + kRawMainHeaderSize);
  EXPECT_EQ(get_i16(&image[0]), 2);
  EXPECT_EQ(get_i16(&image[2]), 3);
  EXPECT_EQ(get_i16(&image[7]), kKindMainHeader);
  EXPECT_EQ(get_i16(&image[9]), static_cast<int16_t>(kRawMainHeaderSize));
  RawMainHeader back = decode_raw_main_header(&image[11]);
  EXPECT_EQ(back.line_fr, 34100.5);
  EXPECT_EQ(back.gate1, 12);
  EXPECT_EQ(back.valid_since, 1234567890u);
  std::vector<uint8_t> too_long(32768);
  EXPECT_THROW(append_record(image, 1, too_long), std::invalid_argument);
}

}  // namespace
}  // namespace quorda
