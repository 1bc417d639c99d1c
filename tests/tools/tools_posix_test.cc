// The readers and writers of the tools under the faults of real operations, on a day of heavy rain
// converted by the real converter: rainprod killed at each of its writes and syncs (strace fault
// injection) leaves each product file as it was or whole, never a part; hydinfo reads a .hyd that
// shrinks under it; rainprod's memory stays bounded at the largest options it takes, and no
// particle of speed 0 or below reaches its products.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "products/products_netcdf.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::ScratchDir;

const char kStrace[] = "/usr/bin/strace";
const std::string kRainprod = testing::tool_path("rainprod");

class ToolsPosix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    const std::string day = dir_->file("day");
    made_ = run_program(testing::tool_path("rainsim"),
                        {"--preset", "heavy", "--seed", "3", "--day", "160", "--duration", "300", "--quiet",
                         "--out", day},
                        "")
                    .status == 0 &&
            run_program(testing::quorda_exe(), {"V26160_1.ab"}, day).status == 0;
    traceable_ = fs::exists(kStrace) &&
                 run_program(kStrace, {"-f", "-qq", "-o", "/dev/null", "/bin/true"}, "").status == 0;
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { ASSERT_TRUE(made_) << "the day could not be simulated and converted"; }
  static std::string set() { return dir_->file("day/V26160_1"); }

  static ScratchDir* dir_;
  static bool made_, traceable_;
};
ScratchDir* ToolsPosix::dir_ = nullptr;
bool ToolsPosix::made_ = false;
bool ToolsPosix::traceable_ = false;

// rainprod --interval 60 over the products of --interval 120, killed at every write, sync and
// rename: each product file is then the previous one or the new one whole.
TEST_F(ToolsPosix, RainprodKilledAtEachWriteLeavesThePreviousFileOrTheNewOneWhole) {
  if (!traceable_ || !products::netcdf_available()) GTEST_SKIP() << "needs strace and NetCDF";
  const std::string w = dir_->file("kill");
  fs::create_directories(w);
  const auto products = [&](const char* interval, const std::vector<std::string>& before) {
    std::vector<std::string> args = before;
    for (const char* a : {"--quiet", "--csv", "day.csv", "--nc", "day.nc", "--interval"}) args.push_back(a);
    args.push_back(interval);
    args.push_back(set());
    return run_program(before.empty() ? kRainprod : kStrace, args, w).status;
  };
  // One creation time for every run, so that the runs' NetCDF files can be compared byte for byte.
  ::setenv("SOURCE_DATE_EPOCH", "1780000000", 1);
  std::map<std::string, std::string> old_files, new_files;
  ASSERT_EQ(products("60", {"-f", "-qq", "-o", "calls", "-e", "trace=write,pwrite64,fsync,rename,ftruncate",
                            kRainprod}),
            0);
  for (const char* f : {"day.csv", "day.nc"}) new_files[f] = read_file(w + "/" + f);
  ASSERT_EQ(products("120", {}), 0);
  for (const char* f : {"day.csv", "day.nc"}) old_files[f] = read_file(w + "/" + f);
  std::map<std::string, int> calls;
  std::ifstream trace(w + "/calls");
  for (std::string pid, call; trace >> pid >> call; trace.ignore(1 << 20, '\n'))
    ++calls[call.substr(0, call.find('('))];
  ASSERT_GE(calls["pwrite64"] + calls["write"], 20);
  ASSERT_EQ(calls["rename"], 2);
  int points = 0, replaced = 0;
  for (const auto& [call, count] : calls) {
    for (int when = 1; when <= count; ++when, ++points) {
      for (const auto& [f, bytes] : old_files) testing::write_file(w + "/" + f, bytes);
      const std::string inject = "inject=" + call + ":signal=KILL:when=" + std::to_string(when);
      EXPECT_EQ(products("60", {"-f", "-qq", "-o", "/dev/null", "-e", inject, kRainprod}), 128 + SIGKILL)
          << inject;
      for (const auto& [f, bytes] : old_files) {
        const std::string now = read_file(w + "/" + f);
        EXPECT_TRUE(now == bytes || now == new_files[f]) << inject << ": " << f << " is a part";
        replaced += now == new_files[f];
      }
    }
  }
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_GE(points, 22);
  EXPECT_GE(replaced, 1);  // the CSV is in place when the NetCDF writing is killed
}

// hydinfo holds the .hyd as it was when read: the file cut to nothing while hydinfo waits to open
// the .hd (a delay injected there) does not end it by a signal.
TEST_F(ToolsPosix, HydinfoReadsASetWhoseStreamShrinksUnderIt) {
  if (!traceable_) GTEST_SKIP() << "needs strace";
  const std::string w = dir_->file("shrink");
  fs::create_directories(w);
  for (const char* ext : {".hyd", ".hd", ".abh"}) fs::copy_file(set() + ext, w + "/V26160_1" + ext);
  const pid_t pid = testing::start_program(
      kStrace,
      {"-f", "-qq", "-o", "/dev/null", "-P", "V26160_1.hd", "-e", "inject=openat:delay_enter=3000000",
       testing::tool_path("hydinfo"), "--check", "V26160_1"},
      w, w + "/out");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  fs::resize_file(w + "/V26160_1.hyd", 0);
  EXPECT_EQ(testing::wait_program(pid), 0) << read_file(w + "/out");
  EXPECT_NE(read_file(w + "/out").find("consistent"), std::string::npos) << read_file(w + "/out");
}

// The largest day rainprod takes (one-second intervals, 48 classes: 4.1 million cells) stays
// within 400 MB; a tolerance that admits any speed still uses no particle of speed 0 or below.
TEST_F(ToolsPosix, RainprodMemoryIsBoundedAndNoSpeedAtOrBelowZeroIsUsed) {
  const pid_t pid = testing::start_program(
      kRainprod, {"--interval", "1", "--bin-width", "0.2", "--bin-max", "9.6", set()}, "", "/dev/null");
  int st = 0;
  rusage use{};
  ASSERT_EQ(::wait4(pid, &st, 0, &use), pid);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kScale = 2;  // the sanitizer's shadow memory and quarantine roughly double it
#else
  constexpr long kScale = 1;
#endif
  EXPECT_LT(use.ru_maxrss, kScale * 400L * 1024);  // kB
  // The day holds one particle of -130 m/s, which a tolerance of 1e9 would admit.
  const testing::SplitResult r = testing::run_program_split(kRainprod, {"--tolerance", "1e9", set()}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("size 0, speed 1)"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quorda
