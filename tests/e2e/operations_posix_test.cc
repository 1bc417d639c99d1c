// The real converter in operations: two conversions of one day at once, a conversion killed while
// it holds its set, inputs and outputs that are not what they seem, an error file that cannot be
// written, and a process allowed on one processor only.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::ScratchDir;
using testing::start_program;
using testing::wait_program;

const char kRaw[] = "V26150_1.ab";
const char* const kSetFiles[] = {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh"};

int run_shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class Operations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    // Forty minutes of heavy rain: a conversion that takes a good second, so that runs started
    // within 300 ms of each other overlap.
    made_ =
        run_shell(std::string(QUORDA_TOOLS_DIR) + "/rainsim --quiet --preset heavy --duration 2400 --out " +
                  dir_->file("day") + " >/dev/null 2>&1") == 0 &&
        run_program(QUORDA_EXE, {kRaw}, fresh("ref")).status == 0;
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { ASSERT_TRUE(made_) << "the simulated day could not be made and converted"; }

  // A new folder with the day's inputs.
  static std::string fresh(const std::string& name) {
    const std::string to = dir_->file(name) + "/";
    fs::remove_all(to);
    fs::create_directories(to);
    for (const char* f : {kRaw, "QUORDA.SET", "corrfact.dat"}) fs::copy_file(dir_->file("day/") + f, to + f);
    return to;
  }
  // Whether the folder holds the reference run's set and "res", byte for byte.
  static bool same_as_one_run(const std::string& folder) {
    bool same = read_file(folder + "res") == read_file(dir_->file("ref/res"));
    for (const char* f : kSetFiles) same = same && read_file(folder + f) == read_file(dir_->file("ref/") + f);
    return same;
  }

  static ScratchDir* dir_;
  static bool made_;
};
ScratchDir* Operations::dir_ = nullptr;
bool Operations::made_ = false;

TEST_F(Operations, TwoConvertersOnOneSetOneEndsBusyAndTheSetIsOneRuns) {
  int overlapped = 0;
  for (int delay_ms : {0, 5, 30, 100, 300}) {
    const std::string folder = fresh("pair");
    const pid_t first = start_program(QUORDA_EXE, {kRaw}, folder, folder + "first.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    const pid_t second = start_program(QUORDA_EXE, {kRaw}, folder, folder + "second.txt");
    const int st_first = wait_program(first), st_second = wait_program(second);
    const std::string log = read_file(folder + "QUORDA.ERR");
    if (st_first == 0 && st_second == 0) {
      // On a fast machine the first run may be over before the second takes the lock: the second
      // then resumes a complete set, and its "res" holds its own particles, none.
      for (const char* f : kSetFiles)
        EXPECT_EQ(read_file(folder + f), read_file(dir_->file("ref/") + f)) << f;
      continue;
    }
    ++overlapped;
    // Started together, either may win the lock; the other ends at once and names the winner.
    const bool first_won = st_first == 0;
    EXPECT_EQ(std::min(st_first, st_second), 0) << delay_ms << " ms\n" << log;
    EXPECT_EQ(std::max(st_first, st_second), 3) << delay_ms << " ms\n" << log;
    EXPECT_NE(log.find("is being converted by process " + std::to_string(first_won ? first : second)),
              std::string::npos)
        << log;
    EXPECT_TRUE(same_as_one_run(folder)) << delay_ms << " ms";
  }
  EXPECT_GE(overlapped, 3);  // the runs 0, 5 and 30 ms apart overlap on any machine
}

TEST_F(Operations, AConverterKilledWhileHoldingItsSetLeavesNoLockBehind) {
  const std::string folder = fresh("killed");
  const pid_t holder = start_program(QUORDA_EXE, {kRaw}, folder, folder + "holder.txt");
  // Killed once it has begun to write the set.
  for (int i = 0; i < 400 && !fs::exists(folder + kSetFiles[2]); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(holder, SIGKILL);
  EXPECT_EQ(wait_program(holder), 128 + SIGKILL);
  EXPECT_TRUE(fs::exists(folder + "V26150_1.lock"));
  EXPECT_EQ(run_program(QUORDA_EXE, {kRaw}, folder).status, 0) << read_file(folder + "QUORDA.ERR");
  EXPECT_TRUE(same_as_one_run(folder));
}

// One hostile input or output: how the folder is prepared, the raw file named, the text the refusal
// must carry, and files that must stay as they were (an empty expected content: must not exist).
struct Hostile {
  const char* what;
  std::function<void(const std::string& folder, const std::string& outside)> prepare;
  const char* raw;
  const char* says;
  std::vector<std::pair<std::string, std::string>> untouched;  // path below the scratch folder
};

TEST_F(Operations, HostileInputsAndOutputsAreRefusedWithStatusOneTouchingNothing) {
  const std::string raw = read_file(dir_->file("day/") + kRaw);
  const std::vector<Hostile> cases = {
      {"raw file a folder",
       [](const std::string& f, const std::string&) { fs::create_directory(f + "V26151_1.ab"); },
       "V26151_1.ab",
       "is not a regular file",
       {{"hostile/V26151_1.abh", ""}, {"hostile/V26151_1.hyd", ""}}},
      {"raw file a pipe",
       [](const std::string& f, const std::string&) { ::mkfifo((f + "V26151_1.ab").c_str(), 0644); },
       "V26151_1.ab",
       "is not a regular file",
       {{"hostile/V26151_1.abh", ""}, {"hostile/V26151_1.lock", ""}}},
      {"raw file named res",
       [](const std::string& f, const std::string&) { fs::copy_file(f + kRaw, f + "res"); },
       "res",
       "an output file of this run",
       {{"hostile/res", raw}, {"hostile/res.abh", ""}}},
      {"raw file named QUORDA.ERR",
       [](const std::string& f, const std::string&) { fs::copy_file(f + kRaw, f + "QUORDA.ERR"); },
       "QUORDA.ERR",
       "an output file of this run",
       {{"hostile/QUORDA.ERR", raw}}},
      {"res a link to another file",
       [](const std::string& f, const std::string& o) { fs::create_symlink(o + "victim", f + "res"); },
       kRaw,
       "res is a symbolic link",
       {{"outside/victim", "keep"}, {"hostile/V26150_1.hyd", ""}}},
      {".hyd a link to nowhere",
       [](const std::string& f, const std::string& o) {
         fs::create_symlink(o + "V26150_1.hyd", f + kSetFiles[0]);
       },
       kRaw,
       "V26150_1.hyd is a symbolic link",
       {{"outside/V26150_1.hyd", ""}, {"hostile/V26150_1.abh", ""}}},
      {"QUORDA.SET a pipe",
       [](const std::string& f, const std::string&) {
         fs::remove(f + "QUORDA.SET");
         ::mkfifo((f + "QUORDA.SET").c_str(), 0644);
       },
       kRaw,
       "QUORDA.SET is not a regular file",
       {{"hostile/V26150_1.hyd", ""}}},
      {"QUORDA.SET the zero device",
       [](const std::string& f, const std::string&) {
         fs::remove(f + "QUORDA.SET");
         fs::create_symlink("/dev/zero", f + "QUORDA.SET");
       },
       kRaw,
       "QUORDA.SET is not a regular file",
       {{"hostile/V26150_1.hyd", ""}}},
      {"corrfact.dat a pipe",
       [](const std::string& f, const std::string&) {
         fs::remove(f + "corrfact.dat");
         ::mkfifo((f + "corrfact.dat").c_str(), 0644);
       },
       kRaw,
       "corrfact.dat is not a regular file",
       {{"hostile/V26150_1.hyd", ""}}},
      {"QUORDA.ERR a folder",
       [](const std::string& f, const std::string&) { fs::create_directory(f + "QUORDA.ERR"); },
       kRaw,
       "QUORDA.ERR (Is a directory): the run ends",
       {{"hostile/V26150_1.hyd", ""}}},
  };
  for (const Hostile& c : cases) {
    const std::string folder = fresh("hostile");
    const std::string outside = dir_->file("outside/");
    fs::remove_all(outside);
    fs::create_directories(outside);
    testing::write_file(outside + "victim", std::string("keep"));
    c.prepare(folder, outside);
    const auto r = run_program(QUORDA_EXE, {c.raw}, folder, 30);
    const std::string said =
        r.out + (fs::is_regular_file(folder + "QUORDA.ERR") ? read_file(folder + "QUORDA.ERR") : "");
    EXPECT_EQ(r.status, 1) << c.what << "\n" << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.what << "\n" << said;
    for (const auto& [path, content] : c.untouched) {
      const std::string p = dir_->file(path);
      if (content.empty()) {
        EXPECT_FALSE(fs::exists(p)) << c.what << ": " << path;
      } else {
        EXPECT_EQ(read_file(p), content) << c.what << ": " << path;
      }
    }
  }
}

TEST_F(Operations, ErrorFileThatCannotBeWrittenEndsACompletedRunWithStatusOne) {
  if (run_shell("strace -qq -o /dev/null -e inject=write:error=ENOSPC:when=1000 /bin/true") != 0)
    GTEST_SKIP() << "strace cannot inject faults here";
  const std::string folder = fresh("full");
  // Every write to QUORDA.ERR fails as on a full disk; the conversion itself goes through.
  const auto r = run_program("/usr/bin/strace",
                             {"-f", "-qq", "-o", "/dev/null", "-P", folder + "QUORDA.ERR", "-e",
                              "inject=write:error=ENOSPC", QUORDA_EXE, kRaw},
                             folder);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("quorda: writing QUORDA.ERR failed: messages of this run are lost"), std::string::npos)
      << r.out;
  EXPECT_TRUE(same_as_one_run(folder));
}

// A power cut must not lose the folder entry of a set's file once it was created: each creation
// (.hyd and .hd, then .abh) is followed by a sync of the folder that holds it.
TEST_F(Operations, TheFolderOfANewSetIsSyncedAfterEachFileIsCreated) {
  if (run_shell("strace -qq -o /dev/null /bin/true") != 0) GTEST_SKIP() << "strace cannot run here";
  const std::string folder = fresh("durable");
  const std::string dir = fs::canonical(folder).string();
  run_program(
      "/usr/bin/strace",
      {"-f", "-qq", "-y", "-o", folder + "calls.txt", "-e", "trace=openat,fsync,fdatasync", QUORDA_EXE, kRaw},
      folder);
  std::ifstream calls(folder + "calls.txt");
  std::vector<std::string> events;  // "create X" and "sync folder", in order
  for (std::string line; std::getline(calls, line);) {
    for (const char* f : {"V26150_1.hyd", "V26150_1.abh"}) {
      if (line.find("openat(") != std::string::npos && line.find(f) != std::string::npos &&
          line.find("O_CREAT") != std::string::npos && line.find(".part") == std::string::npos)
        events.push_back(std::string("create ") + f);
    }
    if (line.find("fsync(") != std::string::npos && line.find("<" + dir + ">)") != std::string::npos)
      events.push_back("sync folder");
  }
  const std::vector<std::string> wanted = {"create V26150_1.hyd", "sync folder", "create V26150_1.abh",
                                           "sync folder"};
  auto at = events.begin();
  for (const std::string& w : wanted) {
    at = std::find(at, events.end(), w);
    ASSERT_NE(at, events.end()) << w << " missing in order:\n" << read_file(folder + "calls.txt");
    ++at;
  }
}

TEST_F(Operations, OnOneProcessorOfTheAffinityTheConverterStartsNoSecondThread) {
  if (run_shell("taskset -c 0 /bin/true") != 0 || run_shell("strace -qq -o /dev/null /bin/true") != 0)
    GTEST_SKIP() << "taskset or strace cannot run here";
  ::unsetenv("QUORDA_THREADS");
  // The threads a run starts, by the clone calls it makes.
  auto threads_started = [&](const std::string& cpus) {
    const std::string folder = fresh("affinity");
    run_program("/usr/bin/strace",
                {"-f", "-qq", "-o", folder + "calls.txt", "-e", "trace=clone,clone3", "/usr/bin/taskset",
                 "-c", cpus, QUORDA_EXE, kRaw},
                folder);
    std::ifstream calls(folder + "calls.txt");
    int n = 0;
    for (std::string line; std::getline(calls, line);) n += line.find("clone") != std::string::npos;
    return n;
  };
  EXPECT_EQ(threads_started("0"), 0);
  if (std::thread::hardware_concurrency() >= 2) {
    EXPECT_GE(threads_started("0,1"), 1);
  }
}

}  // namespace
}  // namespace quorda
