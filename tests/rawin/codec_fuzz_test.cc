// Bounded randomized runs of the record framing and the decoder over random and damaged bytes:
// no crash, nothing read or written outside the buffers (the sanitizer builds watch that), and
// every outcome reported. Seeds are fixed; each test stops after a count or about two seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "base/bytes.h"
#include "format/line_block_format.h"
#include "rawin/decode_line_block.h"
#include "rawin/line_block_model.h"
#include "rawin/raw_file.h"
#include "sim/line_encoder.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;
using testing::write_file;

class Budget {
 public:
  Budget(int rounds, double seconds) : rounds_(rounds), seconds_(seconds) {}
  bool more() {
    if (done_ >= rounds_) return false;
    ++done_;
    if (done_ % 256 == 0) {
      std::chrono::duration<double> d = std::chrono::steady_clock::now() - start_;
      if (d.count() > seconds_) rounds_ = done_;
    }
    return true;
  }
  int done() const { return done_; }

 private:
  int rounds_;
  double seconds_;
  int done_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::vector<LineRecord> some_lines(std::mt19937& rng) {
  std::vector<LineRecord> lines;
  int n = 1 + static_cast<int>(rng() % 400);
  double y = static_cast<double>(rng() % 100000);
  for (int k = 0; k < n; ++k) {
    LineRecord l;
    if (k > 0 && rng() % 3 == 0) {
      l = lines.back();
    } else {
      l.n_runs = static_cast<int16_t>(1 + rng() % 6);
      int at = static_cast<int>(rng() % 200);
      for (int j = 0; j < l.n_runs; ++j) {
        int len = static_cast<int>(rng() % 40);
        l.runs[j] = {static_cast<int16_t>(at), static_cast<int16_t>(at + len)};
        at += len + static_cast<int>(rng() % 60);
      }
    }
    if (rng() % 20 == 0) y += static_cast<double>(rng() % 500);
    l.y_count = y;
    y += 1;
    lines.push_back(l);
  }
  return lines;
}

void mutate(std::mt19937& rng, std::vector<uint8_t>& p) {
  int edits = 1 + static_cast<int>(rng() % 6);
  for (int e = 0; e < edits && !p.empty(); ++e) {
    size_t at = rng() % p.size();
    switch (rng() % 6) {
      case 0:
        p[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        p[at] = static_cast<uint8_t>(rng());
        break;
      case 2:
        p.resize(at);
        break;
      case 3:
        p.insert(p.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
        break;
      case 4:  // a frame word with extreme fields in the first frame head
        if (p.size() >= 6) put_u32(&p[2], static_cast<uint32_t>(rng()));
        break;
      default:
        if (p.size() >= 2) put_i16(&p[0], static_cast<int16_t>(rng() % 4 == 0 ? rng() : rng() % 2100));
        break;
    }
  }
}

// Decodes `bytes` from an allocation of exactly their size and checks the outcome is reported.
void decode_checked(TestRun& t, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  long before = std::ftell(t.ctx->diag.err);
  int16_t n = -1;
  int r = decode_line_block(t.ctx->dec, t.ctx->diag, exact.get(), static_cast<int32_t>(bytes.size()), &n);
  bool reported = std::ftell(t.ctx->diag.err) > before;
  ASSERT_TRUE(r == 0 || r == 1);
  ASSERT_GE(n, 0);
  if (r == 0) {
    ASSERT_TRUE(reported) << "a rejected block must say why";
  }
  if (r == 1) {
    ASSERT_GE(n, 1);
    if (!reported) {
      // A block accepted without a word holds lines of one to six runs each.
      for (int k = 0; k < n; ++k) {
        ASSERT_GE(t.ctx->dec.line_buf[k].n_runs, 1);
        ASSERT_LE(t.ctx->dec.line_buf[k].n_runs, kMaxRuns);
      }
    }
  }
}

TEST(CodecFuzz, DecoderReportsEveryOutcomeOfRandomAndDamagedBlocks) {
  TestRun t;
  std::mt19937 rng(424242);
  std::vector<std::vector<uint8_t>> corpus;
  for (int k = 0; k < 40; ++k) {
    for (auto& b : encode_line_blocks(some_lines(rng))) corpus.push_back(std::move(b));
  }
  Budget budget(100000, 2.0);
  while (budget.more()) {
    std::vector<uint8_t> p;
    if (rng() % 4 == 0) {
      p.resize(rng() % 700);
      for (uint8_t& b : p) b = static_cast<uint8_t>(rng());
      if (p.size() >= 2 && rng() % 2 == 0) put_i16(&p[0], static_cast<int16_t>(1 + rng() % 50));
    } else {
      p = corpus[rng() % corpus.size()];
      mutate(rng, p);
    }
    decode_checked(t, p);
    if (::testing::Test::HasFatalFailure()) return;
    if (budget.done() % 1000 == 0) t.clear_streams();
  }
  EXPECT_GT(budget.done(), 100);
}

// Lines whose numbers are not whole (steps that round when 1 is added), very large, negative or
// near the largest whole number a double holds, so that the decoder's line clock is tested where
// adding 1 line by line and adding the count at once could differ.
std::vector<LineRecord> odd_clock_lines(std::mt19937& rng) {
  std::vector<LineRecord> lines = some_lines(rng);
  static const double kStarts[] = {0.1,    -3.25,   1234.5,   4503599627370000.0,    9007199254740000.0,
                                   1.0e17, -1.0e16, 0.3e-300, 86400.0 * 4000.0 + 0.7};
  const double start = kStarts[rng() % (sizeof kStarts / sizeof kStarts[0])];
  double y = start;
  for (LineRecord& l : lines) {
    if (rng() % 20 == 0) y = y + 7;
    l.y_count = y;
    double next = y + 1;
    if (!(next > y)) next = std::nextafter(y, 1.0e300);  // where 1 is below the step
    y = next;
  }
  return lines;
}

// Compares the decoder with the plain model on one payload: outcome, messages, usable lines and,
// for a block accepted without a word, the reader's final byte offset.
void compare_with_model(TestRun& t, testing::LineBlockModel& model, const std::vector<uint8_t>& bytes) {
  testing::ModelOutcome want = model.decode(bytes);
  t.clear_streams();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  int16_t n = -1;
  int r = decode_line_block(t.ctx->dec, t.ctx->diag, exact.get(), static_cast<int32_t>(bytes.size()), &n);
  ASSERT_EQ(r, want.result);
  ASSERT_EQ(n, want.n_lin);
  ASSERT_EQ(t.err(), want.err);
  if (r != 1) return;
  // Lines said to rise do rise, each above the one before.
  if (t.ctx->dec.lines_rise) {
    for (size_t k = 1; k < want.lines.size(); ++k) {
      ASSERT_GT(want.lines[k].y_count, want.lines[k - 1].y_count) << "line " << k;
    }
  }
  for (size_t k = 0; k < want.lines.size(); ++k) {
    const LineRecord& got = t.ctx->dec.line_buf[k];
    const LineRecord& exp = want.lines[k];
    ASSERT_EQ(std::memcmp(&got.y_count, &exp.y_count, sizeof got.y_count), 0)
        << "line " << k << ": " << got.y_count << " against " << exp.y_count;
    ASSERT_EQ(got.n_runs, exp.n_runs) << "line " << k;
    for (int j = 0; j < kMaxRuns; ++j) {
      ASSERT_EQ(got.runs[j].start, exp.runs[j].start) << "line " << k << " run " << j;
      ASSERT_EQ(got.runs[j].end, exp.runs[j].end) << "line " << k << " run " << j;
    }
  }
  if (want.err.empty()) {
    ASSERT_EQ(t.ctx->dec.end_offset, want.byte_offset);
  }
}

TEST(CodecFuzz, DecoderAgreesWithAPlainModelOnRandomAndDamagedBlocks) {
  TestRun t;
  testing::LineBlockModel model;
  std::mt19937 rng(8080);
  std::vector<std::vector<uint8_t>> corpus;
  for (int k = 0; k < 60; ++k) {
    EncodeLimits lim;
    if (k % 3 == 1) lim.max_lines = 1 + static_cast<int>(rng() % 300);
    if (k % 5 == 2) lim.max_frame = 40 + static_cast<int>(rng() % 200);
    std::vector<LineRecord> lines = k % 2 == 0 ? some_lines(rng) : odd_clock_lines(rng);
    for (auto& b : encode_line_blocks(lines, lim)) corpus.push_back(std::move(b));
  }
  Budget budget(60000, 3.0);
  while (budget.more()) {
    std::vector<uint8_t> p;
    switch (rng() % 8) {
      case 0:
        p.resize(rng() % 700);
        for (uint8_t& b : p) b = static_cast<uint8_t>(rng());
        if (p.size() >= 2 && rng() % 2 == 0) put_i16(&p[0], static_cast<int16_t>(1 + rng() % 50));
        break;
      case 1:
      case 2:
        p = corpus[rng() % corpus.size()];
        break;
      default:
        p = corpus[rng() % corpus.size()];
        mutate(rng, p);
        break;
    }
    compare_with_model(t, model, p);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(budget.done(), 100);
}

// Frames that fill the 16383-byte buffer, with fields of every width: the reader's look-ahead
// near the buffer's end, frames cut by their length, and streams that run on past the frame.
TEST(CodecFuzz, DecoderAgreesWithAPlainModelOnFramesFillingTheBuffer) {
  TestRun t;
  testing::LineBlockModel model;
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    const int w_pos = 1 + static_cast<int>(rng() % 15);
    const int w_len = 1 + static_cast<int>(rng() % 15);
    const int length = 16383 - static_cast<int>(rng() % 40);
    std::vector<uint8_t> p(2 + 12 + static_cast<size_t>(length - 12));
    put_i16(&p[0], static_cast<int16_t>(rng() % 3 == 0 ? 2000 + rng() % 1000 : rng() % 2000 + 1));
    put_u32(&p[2], lineblock::frame_word(length, static_cast<int>(rng() % 1024), w_len, w_pos));
    put_f64(&p[6], static_cast<double>(rng() % 100000));
    // Mostly one-run lines and short repetitions, then zeros or random bits.
    uint64_t acc = 0;
    int n = 0;
    size_t at = 14;
    const size_t stop = 14 + static_cast<size_t>(rng() % static_cast<uint32_t>(length - 12));
    while (at + 8 < stop) {
      const uint32_t kind = rng() % 4;
      const uint32_t pv = kind == 0 ? (1u << (w_pos - 1)) | (1 + rng() % 3) : rng() % (1u << (w_pos - 1));
      acc |= static_cast<uint64_t>(pv & ((1u << w_pos) - 1)) << n;
      n += w_pos;
      if (kind != 0) {
        acc |= static_cast<uint64_t>((1u << (w_len - 1)) | (rng() % (1u << (w_len - 1)))) << n;
        n += w_len;
      }
      while (n >= 8) {
        p[at++] = static_cast<uint8_t>(acc);
        acc >>= 8;
        n -= 8;
      }
    }
    if (rng() % 2 == 0) {
      for (size_t k = at; k < p.size(); ++k) p[k] = static_cast<uint8_t>(rng());
    }
    compare_with_model(t, model, p);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// One raw file image of random records, some damaged.
std::vector<uint8_t> random_image(std::mt19937& rng) {
  std::vector<uint8_t> image;
  int records = 1 + static_cast<int>(rng() % 30);
  for (int k = 0; k < records; ++k) {
    int kind = static_cast<int>(rng() % 5);
    if (kind == 1 || kind == 2) {
      auto blocks = encode_line_blocks(some_lines(rng));
      std::vector<uint8_t> p = blocks[0];
      if (rng() % 3 == 0) mutate(rng, p);
      append_record(image, static_cast<int16_t>(kind), p);
    } else {
      std::vector<uint8_t> p(rng() % 100);
      for (uint8_t& b : p) b = static_cast<uint8_t>(rng());
      append_record(image, static_cast<int16_t>(kind), p);
    }
    if (rng() % 15 == 0 && image.size() >= 2) {
      put_i16(&image[image.size() - 2], static_cast<int16_t>(rng()));  // damage the tail
    }
    if (rng() % 20 == 0) image.push_back(static_cast<uint8_t>(rng()));  // framing off by one
  }
  return image;
}

TEST(CodecFuzz, FramingReaderStatusesMatchTheBytesAndPayloadsDecodeSafely) {
  TestRun t;
  std::mt19937 rng(1717);
  std::string path = t.dir.file("V26343_1.ab");
  Budget budget(300, 2.0);
  while (budget.more()) {
    std::vector<uint8_t> image = random_image(rng);
    write_file(path, image);
    RawFile file;
    ASSERT_TRUE(file.open(*t.files, path));
    // Sometimes the end as measured before the last bytes were written.
    int32_t end = static_cast<int32_t>(image.size());
    if (rng() % 3 == 0) end = static_cast<int32_t>(rng() % (image.size() + 1));
    RawCursor a(rng() % 2 == 0 ? 0 : 100000), b(0);
    int32_t pos[2] = {0, 0};
    bool stopped[2] = {false, false};
    int steps = 0;
    while (!(stopped[0] && stopped[1])) {
      ASSERT_LT(++steps, 10000) << "a cursor must not loop";
      int c = stopped[0] ? 1 : stopped[1] ? 0 : static_cast<int>(rng() % 2);
      RawCursor& cur = c == 0 ? a : b;
      RawRecord rec;
      if (pos[c] >= end) {
        stopped[c] = true;
        continue;
      }
      ReadStatus s = cur.read(file, pos[c], end, &rec);
      const int64_t p = pos[c];
      if (p + 4 > end) {
        ASSERT_EQ(s, ReadStatus::kShortHead);
      } else {
        int16_t n = get_i16(&image[static_cast<size_t>(p) + 2]);
        if (n < 0) {
          ASSERT_EQ(s, ReadStatus::kNegativeLength);
        } else if (p + 4 + n > end) {
          ASSERT_EQ(s, ReadStatus::kBeyondEnd);
        } else {
          ASSERT_EQ(s, ReadStatus::kOk);
          ASSERT_EQ(rec.kind, get_i16(&image[static_cast<size_t>(p)]));
          ASSERT_TRUE(std::equal(rec.payload, rec.payload + n, image.begin() + p + 4));
        }
      }
      if (s != ReadStatus::kOk) {
        stopped[c] = true;
        continue;
      }
      if (rec.kind == 1 || rec.kind == 2) {
        decode_checked(t, std::vector<uint8_t>(rec.payload, rec.payload + rec.payload_len));
        if (::testing::Test::HasFatalFailure()) return;
      }
      pos[c] += 4 + rec.payload_len;
    }
    t.clear_streams();
  }
  EXPECT_GT(budget.done(), 10);
}

}  // namespace
}  // namespace quorda
