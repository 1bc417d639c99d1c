// The real converter killed, or refused a write, at the N-th call of a system call, then run again:
// the resumed output set must equal one uninterrupted run byte for byte, and a refused write must
// end the first run with status 1 and its tag.
//
// The faults are injected with strace (its -e inject option), which must be able to trace here.
// Where it cannot (no strace, or tracing not permitted) the tests say so and are skipped; the
// in-process fault layer of the writer tests covers the same points.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "format/hyd_walker.h"
#include "support/output_fixture.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::ScratchDir;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // the sanitizer build runs each point a few times slower
#else
constexpr int kScale = 1;
#endif

const char kStrace[] = "/usr/bin/strace";
const char kRaw[] = "V26150_1.ab";
const char* const kSetFiles[] = {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh"};

int run_shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Why strace cannot inject faults here, or "" when it can.
std::string strace_unusable() {
  if (!fs::exists(kStrace)) return "strace is not installed";
  if (run_shell(std::string(kStrace) +
                " -f -qq -o /dev/null -e inject=write:error=EIO:when=1000 /bin/true") != 0)
    return "strace cannot trace processes here";
  return "";
}

struct Day {
  std::string dir;                   // raw file, QUORDA.SET, corrfact.dat
  std::string set[3];                // the files of one uninterrupted run
  size_t particles = 0;              // particle records in it
  std::string res;                   // its text file
  std::map<std::string, int> calls;  // system calls of one run, by name
};

size_t particle_count(const std::string& hyd) {
  const HydWalk w = walk_hyd(testing::bytes_of(hyd));
  return static_cast<size_t>(
      std::count_if(w.records.begin(), w.records.end(), [](const HydEntry& e) { return !e.header; }));
}

// A fresh folder with the day's inputs.
std::string fresh_copy(const Day& day, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const char* f : {kRaw, "QUORDA.SET", "corrfact.dat"}) fs::copy_file(day.dir + "/" + f, to + "/" + f);
  return to;
}

bool make_day(const std::string& rainsim_args, const std::string& where, Day* day) {
  day->dir = where + "/day";
  if (run_shell(std::string(QUORDA_TOOLS_DIR) + "/rainsim --quiet " + rainsim_args + " --out " + day->dir +
                " >/dev/null 2>&1") != 0)
    return false;
  const std::string ref = fresh_copy(*day, where + "/ref");
  if (run_program(
          kStrace,
          {"-f", "-qq", "-o", ref + "/calls.txt", "-e", "trace=write,pwrite64,fdatasync", QUORDA_EXE, kRaw},
          ref)
          .status != 0)
    return false;
  std::ifstream calls(ref + "/calls.txt");
  std::string line;
  while (std::getline(calls, line)) {
    std::istringstream in(line);
    std::string pid, call;
    in >> pid >> call;
    call = call.substr(0, call.find('('));
    if (!call.empty()) ++day->calls[call];
  }
  for (int i = 0; i < 3; ++i) day->set[i] = read_file(ref + "/" + kSetFiles[i]);
  day->res = read_file(ref + "/res");
  day->particles = particle_count(day->set[0]);
  return day->particles > 0;
}

// One fault point: a first run under strace with `inject`, then a plain run in the same folder.
struct PointResult {
  int first = -1;
  int resumed = -1;
  std::string err;    // QUORDA.ERR after both runs, then what the first run said on the console
  bool same = false;  // the set equals the uninterrupted run's
  size_t particles = 0;
  bool first_complete = false;  // the first run alone already left the whole set and res
};

PointResult run_point(const Day& day, const std::string& folder, const std::string& inject) {
  PointResult r;
  fresh_copy(day, folder);
  const auto first = run_program(
      kStrace, {"-f", "-qq", "-o", "/dev/null", "-e", "inject=" + inject, QUORDA_EXE, kRaw}, folder);
  r.first = first.status;
  r.first_complete = read_file(folder + "/res") == day.res;
  for (int i = 0; i < 3; ++i)
    r.first_complete = r.first_complete && read_file(folder + "/" + kSetFiles[i]) == day.set[i];
  r.resumed = run_program(QUORDA_EXE, {kRaw}, folder).status;
  r.same = true;
  for (int i = 0; i < 3; ++i) r.same = r.same && read_file(folder + "/" + kSetFiles[i]) == day.set[i];
  r.particles = particle_count(read_file(folder + "/" + kSetFiles[0]));
  r.err = read_file(folder + "/QUORDA.ERR") + first.out;
  return r;
}

std::string describe(const std::string& inject, const PointResult& r, const Day& day) {
  return inject + ": first run " + std::to_string(r.first) + ", resumed run " + std::to_string(r.resumed) +
         ", " + std::to_string(r.particles) + " particles of " + std::to_string(day.particles) + "\n" + r.err;
}

// Points 1..count, or `limit` of them spread evenly.
std::vector<int> points(int count, int limit) {
  std::vector<int> p;
  if (count <= limit) {
    for (int n = 1; n <= count; ++n) p.push_back(n);
    return p;
  }
  for (int k = 0; k < limit; ++k) p.push_back(1 + static_cast<int>(static_cast<int64_t>(k) * count / limit));
  return p;
}

class KillTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#if defined(__SANITIZE_ADDRESS__)
    // The leak checker cannot work in a traced process and would fail every traced run.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
#endif
    unusable_ = new std::string(strace_unusable());
    if (!unusable_->empty()) return;
    dir_ = new ScratchDir;
    light_ = new Day;
    larger_ = new Day;
    // 30 s of moderate rain (some 700 particles); 15 minutes of heavy rain with a main header every
    // 20 s (over 150 writes of the output set).
    made_ = make_day("--duration 30", dir_->path() + "light", light_) &&
            make_day("--preset heavy --duration 900 --header-every 20", dir_->path() + "larger", larger_);
  }
  static void TearDownTestSuite() {
    delete light_;
    delete larger_;
    delete dir_;
    delete unusable_;
  }
  void SetUp() override {
    if (!unusable_->empty())
      GTEST_SKIP() << "skipped: " << *unusable_ << "; the in-process fault layer tests cover these points";
    ASSERT_TRUE(made_) << "the simulated days could not be made and converted";
  }

  // Kills the first run at each given point of `call`; every resumed set must equal one run.
  int kill_sweep(const Day& day, const std::string& call, const std::vector<int>& at,
                 const std::string& name) {
    int n = 0;
    for (int when : at) {
      const std::string inject = call + ":signal=KILL:when=" + std::to_string(when);
      const PointResult r = run_point(day, dir_->path() + name, inject);
      EXPECT_EQ(r.resumed, 0) << describe(inject, r, day);
      EXPECT_TRUE(r.same) << describe(inject, r, day);
      ++n;
    }
    return n;
  }

  // Refuses the write at each given point with `error`: the first run ends with status 1 and a
  // line giving the system's reason (the tag line of the file, or the one line about "res"; for
  // QUORDA.ERR the console says its messages are lost), unless the refused write was not one of its
  // output files (the console), in which case the run is complete; after it a plain run completes
  // the set exactly.
  void error_sweep(const Day& day, const std::string& call, const std::string& error,
                   const std::string& reason, const std::vector<int>& at, const std::string& name) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's runtime writes through the same call at start-up and stops the program when
    // its own write fails: only the output set's calls are refused there.
    if (call == "write") return;
#endif
    for (int when : at) {
      const std::string inject = call + ":error=" + error + ":when=" + std::to_string(when);
      const PointResult r = run_point(day, dir_->path() + name, inject);
      if (r.first == 0) {
        EXPECT_TRUE(r.first_complete) << "status 0 with output missing: " << describe(inject, r, day);
      } else {
        EXPECT_EQ(r.first, 1) << describe(inject, r, day);
        EXPECT_TRUE(r.err.find(reason) != std::string::npos ||
                    r.err.find("messages of this run are lost") != std::string::npos)
            << describe(inject, r, day);
      }
      EXPECT_EQ(r.resumed, 0) << describe(inject, r, day);
      EXPECT_TRUE(r.same) << describe(inject, r, day);
    }
  }

  static std::string* unusable_;
  static ScratchDir* dir_;
  static Day* light_;
  static Day* larger_;
  static bool made_;
};
std::string* KillTest::unusable_ = nullptr;
ScratchDir* KillTest::dir_ = nullptr;
Day* KillTest::light_ = nullptr;
Day* KillTest::larger_ = nullptr;
bool KillTest::made_ = false;

TEST_F(KillTest, LightDayKilledAtEveryWriteAndSyncResumesToOneRun) {
  int n = 0;
  for (const char* call : {"write", "pwrite64", "fdatasync"})
    n += kill_sweep(*light_, call, points(light_->calls[call], 1000), "light-kill");
  EXPECT_GE(n, 20);
}

TEST_F(KillTest, LargerDayKilledAt200PointsResumesToOneRun) {
  // Every write and sync of the output set, and writes of "res" and the console in between.
  const int pw = larger_->calls["pwrite64"], fs = larger_->calls["fdatasync"];
  const int w = std::max(0, 200 - pw - fs);
  ASSERT_GE(larger_->calls["write"], w);
  int n = 0;
  n += kill_sweep(*larger_, "pwrite64", points(pw, pw / kScale), "larger-kill");
  n += kill_sweep(*larger_, "fdatasync", points(fs, fs), "larger-kill");
  n += kill_sweep(*larger_, "write", points(larger_->calls["write"], w / kScale), "larger-kill");
  EXPECT_GE(n * kScale, 200);
}

TEST_F(KillTest, DiskFullAtEveryWriteEndsWithStatusOneAndAResumedRunCompletesTheSet) {
  for (const char* call : {"pwrite64", "write"})
    error_sweep(*light_, call, "ENOSPC", "No space left on device", points(light_->calls[call], 1000),
                "light-full");
  error_sweep(*larger_, "pwrite64", "ENOSPC", "No space left on device",
              points(larger_->calls["pwrite64"], 40 / kScale), "larger-full");
}

TEST_F(KillTest, IoErrorAtEveryWriteAndSyncEndsWithStatusOneAndAResumedRunCompletesTheSet) {
  for (const char* call : {"pwrite64", "write", "fdatasync"})
    error_sweep(*light_, call, "EIO", "Input/output error", points(light_->calls[call], 1000), "light-eio");
}

}  // namespace
}  // namespace quorda
