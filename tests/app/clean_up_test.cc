// Closing the index, hydrometeor, header and raw files at the end of a run.
#include "app/clean_up.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/output_fixture.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;

struct CleanUp : ::testing::Test {
  CleanUp() {
    testing::name_output_set(ctx, t.dir.path());
    open_output_set(ctx.rawin_part());
    testing::write_file(ctx.raw.raw_file_path, "");
    EXPECT_TRUE(ctx.raw.raw_file.open(*ctx.files, ctx.raw.raw_file_path));
  }
  bool any_open() const {
    return ctx.out.abh_stream.is_open() || ctx.out.hyd_stream.is_open() || ctx.out.hd_stream.is_open() ||
           ctx.raw.raw_file.is_open();
  }
  TestRun t;
  RunContext& ctx = *t.ctx;
};

TEST_F(CleanUp, ClosesTheFourStreamsAndResAndPassesOverClosedOnes) {
  ctx.eval.res = std::fopen(ctx.local_path("res").c_str(), "wt");
  ASSERT_NE(ctx.eval.res, nullptr);
  clean_up(ctx);
  EXPECT_FALSE(any_open());
  EXPECT_EQ(ctx.eval.res, nullptr);
  clean_up(ctx);
  EXPECT_EQ(t.err(), "");
}

TEST_F(CleanUp, ResWhoseBufferedLinesCannotBeWrittenMarksTheRunFailed) {
#ifdef _WIN32
  // Windows has no full device: a stream over a descriptor opened for reading refuses the write.
  testing::write_file(t.dir.file("res"), "");
  ctx.eval.res = ::_fdopen(::_open(t.dir.file("res").c_str(), _O_RDONLY), "w");
  const int error = EBADF;
#else
  ctx.eval.res = std::fopen("/dev/full", "w");
  const int error = ENOSPC;
#endif
  ASSERT_NE(ctx.eval.res, nullptr);
  ASSERT_GE(std::fputs("0.5\n", ctx.eval.res), 0);
  clean_up(ctx);
  EXPECT_FALSE(any_open());
  EXPECT_TRUE(ctx.eval.res_failed);
  EXPECT_FALSE(ctx.out.close_failed);
  EXPECT_EQ(t.err(), std::string("eval_dr: writing res failed (") + std::strerror(error) + ")\n");
}

}  // namespace
}  // namespace quorda
