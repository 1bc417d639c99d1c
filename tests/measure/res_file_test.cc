// The text file "res": lines collected in the run's buffer and handed to the stream a buffer at a
// time, the buffer's edge, a write refused or cut short, and the flush at the close.
#include "measure/res_file.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/resource.h>

#include <csignal>
#endif

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "measure/res_line.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_text;
using testing::TestRun;

// Measures whose line differs with `k` and whose plane distance is `dist` (a large distance makes
// a long line: its field is never cut).
DropMeasures measures(int k, double dist = 6.25) {
  DropMeasures m;
  m.eq_diam = 0.5f + 0.001f * static_cast<float>(k % 1000);
  m.plane_dist = dist;
  m.by_first = {1.0 + k % 7, 2.0};
  m.by_last = {3.0, 4.0 - k % 3};
  m.vel_a = 1.5;
  m.vel_b = 2.5;
  m.height_a = 0.1 * (k % 50);
  m.width_a = 1.25;
  m.height_b = 0.75;
  m.width_b = 1.0 / (1 + k % 11);
  m.ratio_a = m.ratio_b = m.ratio = 0.875;
  return m;
}

// The longest line there is: every value the most negative finite double.
DropMeasures longest() {
  DropMeasures m;
  m.eq_diam = -FLT_MAX;
  m.plane_dist = m.by_first.at_a = m.vel_a = m.by_last.at_a = m.by_first.at_b = m.vel_b = m.by_last.at_b =
      m.height_a = m.width_a = m.height_b = m.width_b = m.ratio_a = m.ratio_b = m.ratio = -DBL_MAX;
  return m;
}

std::string line_of(const DropMeasures& m) {
  double values[kResValues];
  res_values(m, values);
  char text[kResLineMax];
  return std::string(text, format_res_line(values, text));
}

struct ResFile : ::testing::Test {
  // Writes the line of `m` and adds it to what the file should hold.
  void put(const DropMeasures& m) {
    write_res_line(ctx.measure_part(), m);
    expected += line_of(m);
  }
  std::string on_disk() { return read_text(t.dir.file("res")); }
  // Gives the run a "res" stream that refuses every write; returns the error it fails with.
  int attach_refusing_stream() {
#ifdef _WIN32
    // Windows has no full device: a stream over a descriptor opened for reading refuses the write.
    testing::write_file(t.dir.file("res"), "");
    FILE* stream = ::_fdopen(::_open(t.dir.file("res").c_str(), _O_RDONLY), "w");
    const int error = EBADF;
#else
    FILE* stream = std::fopen("/dev/full", "w");
    const int error = ENOSPC;
#endif
    if (stream == nullptr) return 0;
    ctx.eval.res_tried = true;
    attach_res(ctx.eval, stream);
    return error;
  }

  TestRun t;
  RunContext& ctx = *t.ctx;
  std::string expected;
};

TEST_F(ResFile, LinesReachTheFileABufferAtATimeAndAllOfThemAtTheClose) {
  int k = 0;
  while (expected.size() + kResLineMax <= kResBufSize) put(measures(k++));
  EXPECT_EQ(on_disk(), "") << "a buffer not yet full stays in memory";
  // The line that finds too little room hands the buffer over first.
  const std::string first_buffer = expected;
  put(measures(k++));
  EXPECT_EQ(on_disk(), first_buffer);
  for (int i = 0; i < 3000; ++i) put(measures(k++));
  close_res(ctx.measure_part());
  EXPECT_EQ(ctx.eval.res, nullptr);
  EXPECT_EQ(on_disk(), expected);
  EXPECT_FALSE(ctx.eval.res_failed);
  EXPECT_EQ(t.err(), "");
}

TEST_F(ResFile, ALineOfTheLongestTextFitsTheLastRoomOfTheBuffer) {
  const std::string longest_line = line_of(longest());
  ASSERT_LE(longest_line.size(), kResLineMax);
  ASSERT_GT(longest_line.size(), 4000u);
  // Lines of 107 characters and a newline, then one as long as it takes to leave exactly
  // kResLineMax bytes free.
  const size_t target = kResBufSize - kResLineMax;
  int k = 0;
  while (target - expected.size() >= 2 * line_of(measures(0)).size()) put(measures(k++));
  const size_t rest = target - expected.size();
  double dist = 1.0;
  while (line_of(measures(k, dist)).size() < rest) dist *= 10.0;
  ASSERT_EQ(line_of(measures(k, dist)).size(), rest);
  put(measures(k++, dist));
  ASSERT_EQ(expected.size(), target);

  put(longest());
  EXPECT_EQ(on_disk(), "") << "the longest line still fits";
  put(measures(k++));
  EXPECT_EQ(on_disk(), std::string(expected, 0, target + longest_line.size()));
  // Lines after the buffer's edge, and the flush a reader of the file asks for.
  for (int i = 0; i < 100; ++i) put(measures(k++));
  flush_res(ctx.measure_part());
  EXPECT_EQ(on_disk(), expected);
  put(longest());
  close_res(ctx.measure_part());
  EXPECT_EQ(on_disk(), expected);
  EXPECT_EQ(t.err(), "");
}

TEST_F(ResFile, AFailedWriteIsSaidOnceAndTheLinesAfterItAreDropped) {
  const int error = attach_refusing_stream();
  ASSERT_NE(ctx.eval.res, nullptr);
  for (int k = 0; k < 2000; ++k) write_res_line(ctx.measure_part(), measures(k));
  EXPECT_EQ(ctx.eval.res, nullptr);
  EXPECT_TRUE(ctx.eval.res_failed);
  close_res(ctx.measure_part());
  EXPECT_EQ(t.err(), std::string("eval_dr: writing res failed (") + std::strerror(error) +
                         "), no further hydrometeor lines are written\n");
}

TEST_F(ResFile, LinesLeftInTheBufferThatCannotBeWrittenFailTheClose) {
  const int error = attach_refusing_stream();
  ASSERT_NE(ctx.eval.res, nullptr);
  write_res_line(ctx.measure_part(), measures(1));
  EXPECT_FALSE(ctx.eval.res_failed);
  close_res(ctx.measure_part());
  EXPECT_EQ(ctx.eval.res, nullptr);
  EXPECT_TRUE(ctx.eval.res_failed);
  EXPECT_EQ(t.err(), std::string("eval_dr: writing res failed (") + std::strerror(error) + ")\n");
}

#ifndef _WIN32
// A file size limit cuts the write of the first buffer short: the system takes part of it, then
// refuses the rest. The part stays in the file, the failure is said once with the system's reason.
TEST_F(ResFile, AWriteCutShortIsAFailedWrite) {
  constexpr rlim_t kLimit = 1000;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur < kResBufSize) GTEST_SKIP() << "file size limited";
  open_res_once(ctx.measure_part());
  ASSERT_NE(ctx.eval.res, nullptr);
  void (*const old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit lower = old;
  lower.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lower), 0);
  for (int k = 0; k < 1000; ++k) put(measures(k));
  const bool stopped = ctx.eval.res == nullptr;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_TRUE(stopped);
  EXPECT_TRUE(ctx.eval.res_failed);
  EXPECT_EQ(on_disk(), expected.substr(0, kLimit));
  close_res(ctx.measure_part());
  EXPECT_EQ(t.err(), std::string("eval_dr: writing res failed (") + std::strerror(EFBIG) +
                         "), no further hydrometeor lines are written\n");
}
#endif

}  // namespace
}  // namespace quorda
