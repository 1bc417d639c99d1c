// Tagged failure lines, fatal ends and the trace printers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/trace.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;

TEST(ReportTag, WritesTagColonSystemTextAndNewline) {
  TestRun t;
  errno = ENOENT;
  report_tag(t.ctx->diag, " net_wr05 ");
  errno = ENOENT;
  report_tag(t.ctx->diag, "mp02");
  EXPECT_EQ(t.err(),
            std::string(" net_wr05 : ") + std::strerror(ENOENT) + "\nmp02: " + std::strerror(ENOENT) + "\n");
}

TEST(Fatal, WritesMessageAndEndsWithStatusOne) {
  TestRun t;
  int status = t.ends_with([&] { fatal(t.ctx->diag, "eval_dr 01: no main header in file ?!? \n"); });
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(t.err(), "eval_dr 01: no main header in file ?!? \n");
}

TEST(Trace, SwitchesAreOffSoNothingIsExamined) {
  TestRun t;
  hprintf(t.ctx->diag, "cmpr_n=%9ld\n", 5);
  trace_queue(t.ctx->diag, "%x", 5);
  EXPECT_EQ(t.out(), "");
  EXPECT_EQ(t.err(), "");
}

TEST(Trace, PrintsBareConversions) {
  TestRun t;
  trace_print(t.ctx->diag, TraceKind::kMain, "a=%d b=%u c=%f s=%s l=%ld lu=%lu lf=%lf\n", -3, 4u, 1.5, "x",
              -7, 8u, 2.25);
  EXPECT_EQ(t.out(), "a=-3 b=4 c=1.500000 s=x l=-7 lu=8 lf=2.250000\n");
}

TEST(Trace, ConvertsEachArgumentByTheConversionThatTakesIt) {
  TestRun t;
  enum class Side { kA = 1, kB = 2 };
  trace_print(t.ctx->diag, TraceKind::kMain, "%d %d %u %ld %f %d %s|%d %f %lu %d\n", 3.9, -2.5, -1,
              uint64_t{1} << 32 | 7u, uint64_t{1} << 63, std::nan(""), 12, "x", Side::kB, true, 1e30);
  EXPECT_EQ(t.out(), "3 -2 4294967295 7 9223372036854775808.000000 0 |0 2.000000 1 0\n");
  // Pointers are no trace arguments: a call with one does not compile, switch on or off.
  static_assert(!TraceValue<const int*>);
  static_assert(TraceValue<std::string> && TraceValue<Side> && TraceValue<char[4]>);
}

TEST(Trace, SkipsUnknownLongConversionWithoutTakingAnArgument) {
  TestRun t;
  trace_print(t.ctx->diag, TraceKind::kMain, "[%lx]%d\n", 12);
  EXPECT_EQ(t.out(), "[]12\n");
}

TEST(Trace, UnknownConversionEndsTheRunAfterTheTextBeforeIt) {
  TestRun t;
  int status = t.ends_with([&] { trace_print(t.ctx->diag, TraceKind::kMain, "pos=%9ld\n", 5); });
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(t.out(), "pos=");
  EXPECT_EQ(t.err(), "*** Error in 'hprintf': Unknown format '9' !\n");
}

TEST(Trace, QueuePrinterRejectsLongConversions) {
  TestRun t;
  int status = t.ends_with([&] { trace_print(t.ctx->diag, TraceKind::kQueue, "%ld", 5); });
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(t.err(), "*** Error in 'hprintf': Unknown format 'l' !\n");
}

}  // namespace
}  // namespace quorda
