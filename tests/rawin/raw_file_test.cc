// The raw file's record framing read through windowed cursors.
#include "rawin/raw_file.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "base/bytes.h"
#include "sim/line_encoder.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::TestRun;
using testing::write_file;

std::vector<uint8_t> filled(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t k = 0; k < n; ++k) v[k] = static_cast<uint8_t>(seed + k * 7);
  return v;
}

void append_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::app);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Opened {
  std::unique_ptr<Files> files = make_system_files();
  ScratchDir dir;
  std::string path = dir.file("V10082_1.ab");
  RawFile file;
  int32_t end = 0;

  explicit Opened(const std::vector<uint8_t>& image) {
    write_file(path, image);
    EXPECT_TRUE(file.open(*files, path));
    remeasure();
  }
  void remeasure() {
    bool clamped = true;
    EXPECT_TRUE(file.measure_end(&end, &clamped));
    EXPECT_FALSE(clamped);
  }
};

TEST(RawCursor, ReadsEveryRecordWithItsKindAndPayloadAcrossWindowEdges) {
  std::vector<uint8_t> image;
  std::vector<std::vector<uint8_t>> payloads;
  std::mt19937 rng(5);
  for (int k = 0; k < 60; ++k) {
    size_t n = k % 7 == 0 ? 0 : rng() % (k % 5 == 0 ? 32767 : 300);
    payloads.push_back(filled(n, static_cast<uint8_t>(k)));
    append_record(image, static_cast<int16_t>(k % 9 - 2), payloads.back());
  }
  Opened o(image);
  for (size_t window : {size_t{0}, size_t{40000}, size_t{1} << 20}) {
    RawCursor c(window);
    int32_t pos = 0;
    for (int k = 0; k < 60; ++k) {
      RawRecord rec;
      ASSERT_EQ(c.read(o.file, pos, o.end, &rec), ReadStatus::kOk) << k;
      EXPECT_EQ(rec.kind, k % 9 - 2);
      ASSERT_EQ(rec.payload_len, static_cast<int16_t>(payloads[k].size()));
      EXPECT_TRUE(std::equal(payloads[k].begin(), payloads[k].end(), rec.payload)) << k;
      pos += 4 + rec.payload_len;
    }
    EXPECT_EQ(pos, o.end);
    RawRecord rec;
    EXPECT_EQ(c.read(o.file, pos, o.end, &rec), ReadStatus::kShortHead);
  }
}

TEST(RawCursor, TwoCursorsOnOneFileDoNotDisturbEachOther) {
  std::vector<uint8_t> image;
  for (int k = 0; k < 200; ++k)
    append_record(image, static_cast<int16_t>(1 + k % 2), filled(100 + k, static_cast<uint8_t>(k)));
  Opened o(image);
  RawCursor a(0), b(0);  // smallest windows, so the two read far apart
  int32_t pos_a = 0, pos_b = 0;
  int seen_a = 0, seen_b = 0;
  while (pos_a < o.end || pos_b < o.end) {
    RawRecord rec;
    for (int step = 0; step < 3 && pos_a < o.end; ++step) {
      ASSERT_EQ(a.read(o.file, pos_a, o.end, &rec), ReadStatus::kOk);
      int k = seen_a++;
      EXPECT_EQ(rec.payload_len, 100 + k);
      EXPECT_EQ(rec.payload[0], static_cast<uint8_t>(k));
      pos_a += 4 + rec.payload_len;
    }
    if (seen_a > 20 && pos_b < o.end) {
      ASSERT_EQ(b.read(o.file, pos_b, o.end, &rec), ReadStatus::kOk);
      int k = seen_b++;
      EXPECT_EQ(rec.payload_len, 100 + k);
      EXPECT_EQ(rec.payload[rec.payload_len - 1], static_cast<uint8_t>(k + (99 + k) * 7));
      pos_b += 4 + rec.payload_len;
    }
  }
  EXPECT_EQ(seen_a, 200);
  EXPECT_EQ(seen_b, 200);
}

TEST(RawCursor, GrowingFileIsReadAsFarAsItWasMeasured) {
  std::vector<uint8_t> image;
  append_record(image, 1, filled(50, 1));
  std::vector<uint8_t> second;
  append_record(second, 2, filled(70, 2));
  image.insert(image.end(), second.begin(), second.begin() + 30);  // the second record half written
  Opened o(image);
  RawCursor c;
  RawRecord rec;
  ASSERT_EQ(c.read(o.file, 0, o.end, &rec), ReadStatus::kOk);
  EXPECT_EQ(c.read(o.file, 54, o.end, &rec), ReadStatus::kBeyondEnd);

  append_file(o.path, std::vector<uint8_t>(second.begin() + 30, second.end()));
  EXPECT_EQ(c.read(o.file, 54, o.end, &rec), ReadStatus::kBeyondEnd);  // not measured yet
  o.remeasure();
  ASSERT_EQ(c.read(o.file, 54, o.end, &rec), ReadStatus::kOk);
  EXPECT_EQ(rec.kind, 2);
  EXPECT_EQ(rec.payload_len, 70);
  EXPECT_EQ(rec.payload[69], filled(70, 2)[69]);
}

TEST(RawCursor, ShortHeadNegativeLengthAndOverlongPayloadAreReported) {
  std::vector<uint8_t> image;
  append_record(image, 1, filled(10, 0));
  image.push_back(3);
  image.push_back(0);
  image.push_back(0xF0);  // payload length -16
  image.push_back(0xFF);
  Opened o(image);
  RawCursor c;
  RawRecord rec;
  EXPECT_EQ(c.read(o.file, 14, o.end, &rec), ReadStatus::kNegativeLength);
  EXPECT_EQ(rec.payload_len, -16);
  EXPECT_EQ(c.read(o.file, 15, o.end, &rec), ReadStatus::kShortHead);
  EXPECT_EQ(c.read(o.file, o.end, o.end, &rec), ReadStatus::kShortHead);
  EXPECT_EQ(c.read(o.file, -4, o.end, &rec), ReadStatus::kShortHead);
  // The first record's payload announced as longer than the file.
  EXPECT_EQ(c.read(o.file, 0, 13, &rec), ReadStatus::kBeyondEnd);
  // A file that shrank below the measured end.
  std::filesystem::resize_file(o.path, 12);
  RawCursor fresh;
  EXPECT_EQ(fresh.read(o.file, 0, o.end, &rec), ReadStatus::kBeyondEnd);
}

TEST(RawCursor, RefusedReadIsAnIoError) {
  std::vector<uint8_t> image;
  append_record(image, 1, filled(10, 0));
  Opened o(image);
  int32_t end = o.end;
  ASSERT_TRUE(o.file.close());
  RawCursor c;
  RawRecord rec;
  errno = 0;
  EXPECT_EQ(c.read(o.file, 0, end, &rec), ReadStatus::kIoError);
  EXPECT_EQ(errno, EBADF);
}

TEST(RawCursor, FileLongerThanTheOffsetRangeIsReadOnlyUpToIt) {
  TestRun t;
  std::string path = t.dir.file("V10082_1.ab");
  std::vector<uint8_t> image;
  append_record(image, 1, filled(20, 3));
  write_file(path, image);
  // A sparse file of 3 GiB: its end lies past INT32_MAX.
  std::error_code grown;
  std::filesystem::resize_file(path, uintmax_t{3} << 30, grown);
  if (grown) GTEST_SKIP() << "no sparse files here: " << grown.message();
  ASSERT_TRUE(t.ctx->raw.raw_file.open(*t.files, path));
  t.ctx->raw.raw_file_path = path;
  EXPECT_TRUE(update_raw_end(t.ctx->rawin_part(), "mp71"));
  EXPECT_EQ(t.ctx->drv.rawend, INT32_MAX);
  EXPECT_TRUE(update_raw_end(t.ctx->rawin_part(), "mp71"));
  EXPECT_EQ(t.ctx->drv.rawend, INT32_MAX);
  EXPECT_EQ(t.err(), "raw file " + path +
                         " is longer than 2147483647 bytes: only its first 2147483647 bytes are read \n");

  RawCursor c(0);
  RawRecord rec;
  ASSERT_EQ(c.read(t.ctx->raw.raw_file, 0, INT32_MAX, &rec), ReadStatus::kOk);
  EXPECT_EQ(rec.payload[19], filled(20, 3)[19]);
  EXPECT_EQ(c.read(t.ctx->raw.raw_file, INT32_MAX - 3, INT32_MAX, &rec), ReadStatus::kShortHead);
  // Zeros at the last full head: a record of kind 0 with an empty payload.
  EXPECT_EQ(c.read(t.ctx->raw.raw_file, INT32_MAX - 4, INT32_MAX, &rec), ReadStatus::kOk);
  EXPECT_EQ(rec.payload_len, 0);
}

TEST(RawCursor, MeasureOfAClosedFileReportsTheTagAndKeepsTheEndMeasuredLast) {
  TestRun t;
  t.ctx->drv.rawend = 4096;
  errno = 0;
  EXPECT_FALSE(update_raw_end(t.ctx->rawin_part(), "mp72"));
  EXPECT_EQ(t.ctx->drv.rawend, 4096);
  EXPECT_EQ(t.err(), std::string("mp72: ") + std::strerror(EBADF) + "\n");
}

TEST(RawCursor, MeasureFollowsAGrowingFile) {
  TestRun t;
  std::string path = t.dir.file("V10082_1.ab");
  write_file(path, std::string(10, 'x'));
  ASSERT_TRUE(t.ctx->raw.raw_file.open(*t.files, path));
  EXPECT_TRUE(update_raw_end(t.ctx->rawin_part(), "mp71"));
  EXPECT_EQ(t.ctx->drv.rawend, 10);
  write_file(path, std::string(25, 'x'));
  EXPECT_TRUE(update_raw_end(t.ctx->rawin_part(), "mp71"));
  EXPECT_EQ(t.ctx->drv.rawend, 25);
  EXPECT_EQ(t.err(), "");
}

}  // namespace
}  // namespace quorda
