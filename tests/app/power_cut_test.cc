// Whole runs of the converter over a file room that loses power after the N-th write, with every
// write since the last sync kept, dropped, torn at a 512-byte boundary or a mix of these; and
// writes, syncs and closes that fail. After each, one plain run must leave the output set exactly
// as one uninterrupted run leaves it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/run_context.h"
#include "support/crash_files.h"
#include "support/memory_run.h"
#include "support/process.h"
#include "support/short_dir.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::convert;
using testing::CrashFiles;
using testing::Loss;
using testing::Outcome;
using testing::read_file;
using testing::ShortDir;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kStride = 4;  // the sanitizer build tries every 4th point
#elif defined(_WIN32)
// Every 16th point on Windows: under Wine each run opens and closes its settings and text files
// many times slower than Linux does, and the fault layer is the same as on Linux, where every
// point is tried.
constexpr int kStride = 16;
#else
constexpr int kStride = 1;
#endif

const char* const kSet[] = {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh"};

class PowerCut : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ShortDir;
    disk_ = new testing::MemoryDisk;
    set_ = new std::vector<std::string>;
    // 10 s of moderate rain with a main header every 5 s: some 230 particles. The raw file and the
    // output set live on a disk in memory; the settings, corrfact.dat and "res" in the folder.
    const std::string d = dir_->path();
    if (d.empty()) {
      *set_ = {"no scratch folder whose path fits a settings line"};
      return;
    }
    const testing::ProcResult sim = testing::run_program(
        testing::tool_path("rainsim"),
        {"--quiet", "--duration", "10", "--header-every", "5", "--raw-path", d, "--hyd-path", d, "--out", d},
        d);
    if (sim.status != 0) {
      *set_ = {"rainsim failed: " + sim.out};
      return;
    }
    disk_->files[d + "V26150_1.ab"] = read_file(d + "V26150_1.ab");
    CrashFiles counting(*disk_);
    const Outcome o = convert(d, counting);
    if (o.status != 0) {
      *set_ = {"status " + std::to_string(o.status) + "\n" + o.err};
      return;
    }
    writes_ = counting.writes;
    syncs_ = counting.syncs;
    for (const char* f : kSet) set_->push_back(disk_->files[d + f]);
  }
  static void TearDownTestSuite() {
    delete set_;
    delete disk_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_GT(writes_, 0) << "the simulated day could not be made and converted: "
                          << (set_->empty() ? std::string() : set_->front());
  }

  static void clear_outputs() {
    for (const char* f : kSet) disk_->files.erase(dir_->path() + f);
  }
  // The set as one plain run after the fault leaves it, against the uninterrupted run's.
  static ::testing::AssertionResult resumed_equals_one_run() {
    CrashFiles room(*disk_);  // without faults; its syncs cost no disk time
    const Outcome o = convert(dir_->path(), room);
    if (o.status != 0)
      return ::testing::AssertionFailure() << "resumed run ended with " << o.status << "\n" << o.err;
    for (int i = 0; i < 3; ++i) {
      if (disk_->files[dir_->path() + kSet[i]] != (*set_)[static_cast<size_t>(i)])
        return ::testing::AssertionFailure() << kSet[i] << " differs from one run\n" << o.err;
    }
    return ::testing::AssertionSuccess();
  }

  static ShortDir* dir_;
  static testing::MemoryDisk* disk_;
  static std::vector<std::string>* set_;
  static int64_t writes_;
  static int64_t syncs_;
};
ShortDir* PowerCut::dir_ = nullptr;
testing::MemoryDisk* PowerCut::disk_ = nullptr;
std::vector<std::string>* PowerCut::set_ = nullptr;
int64_t PowerCut::writes_ = 0;
int64_t PowerCut::syncs_ = 0;

TEST_F(PowerCut, AfterEveryWriteWithUnsyncedWritesKeptDroppedTornOrMixedTheResumedSetIsOneRun) {
  const Loss losses[] = {Loss::kKept, Loss::kDropped, Loss::kTorn, Loss::kMixed};
  int points = 0;
  for (int64_t n = 1; n <= writes_; n += kStride) {
    for (Loss loss : losses) {
      clear_outputs();
      CrashFiles room(*disk_);
      room.cut_after = n;
      room.loss = loss;
      room.seed = static_cast<uint64_t>(n);
      const Outcome first = convert(dir_->path(), room);
      ASSERT_TRUE(first.cut) << "write " << n << " never came";
      room.settle();
      ASSERT_TRUE(resumed_equals_one_run())
          << "power cut after write " << n << ", loss " << static_cast<int>(loss);
      ++points;
    }
  }
  RecordProperty("crash_points", points);
  EXPECT_GE(points * kStride, 1000) << "the day gives too few writes: " << writes_;
}

TEST_F(PowerCut, AFailedWriteSyncOrCloseEndsTheRunWithStatusOneAndTheResumedSetIsOneRun) {
  struct Case {
    int64_t CrashFiles::*which;
    int64_t count;
    int error;
  };
  const Case cases[] = {{&CrashFiles::fail_write, writes_, ENOSPC},
                        {&CrashFiles::fail_write, writes_, EIO},
                        {&CrashFiles::fail_sync, syncs_, EIO}};
  for (const Case& c : cases) {
    for (int64_t n = 1; n <= c.count; n += kStride) {
      clear_outputs();
      CrashFiles room(*disk_);
      room.*c.which = n;
      room.error = c.error;
      const Outcome first = convert(dir_->path(), room);
      ASSERT_EQ(first.status, 1) << "point " << n << "\n" << first.err;
      EXPECT_NE(first.err.find(std::string(": ") + std::strerror(c.error) + "\n"), std::string::npos)
          << first.err;
      ASSERT_TRUE(resumed_equals_one_run()) << "failure at " << n;
    }
  }
  // A failed close of an output file at the end of the run: the run counts as failed.
  for (int64_t n = 1; n <= 3; ++n) {
    clear_outputs();
    CrashFiles room(*disk_);
    room.fail_close = n;  // a new set: the index, hydrometeor and header file are closed in this order
    room.error = EIO;
    const Outcome first = convert(dir_->path(), room);
    EXPECT_EQ(first.status, 1) << first.err;
    EXPECT_NE(first.err.find(" clean_up0" + std::to_string(n) + " : " + std::strerror(EIO)),
              std::string::npos)
        << first.err;
  }
}

}  // namespace
}  // namespace quorda
