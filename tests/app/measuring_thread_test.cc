// Whole runs with one and with two threads over the same simulated days and the same faults: the
// output set, "res", the messages and the exit status must not depend on the number of threads.
// A write or sync that fails on the measuring thread ends the run with status 1 and its tag, as
// with one thread; a fatal condition of the reading side waits for the pairs handed over before.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/entry.h"
#include "app/measuring_thread.h"
#include "app/run_context.h"
#include "base/constants.h"
#include "base/diagnostics.h"
#include "base/run_end.h"
#include "format/particle_record.h"
#include "format/raw_record.h"
#include "measure/pair_fixture.h"
#include "support/crash_files.h"
#include "support/memory_run.h"
#include "support/output_fixture.h"
#include "support/process.h"
#include "support/short_dir.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::CrashFiles;
using testing::read_file;
using testing::ShortDir;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(_WIN32)
constexpr int kStride = 7;  // the sanitizer builds and Wine try every 7th failure point
#else
constexpr int kStride = 1;
#endif

const char* const kSet[] = {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh"};

// What a run leaves: status, error stream, the output set and "res".
struct Result {
  int status = -1;
  std::string err;
  std::string files[3];
  std::string res;
};

// One run in `dir` over `room` (whose disk holds the raw file) with `platform` and `threads`
// threads; `prepare`, when given, sees the run's context before the run.
Result run_on(Files& room, const testing::MemoryDisk& disk, Platform& platform, const std::string& dir,
              int threads, const std::function<void(RunContext&)>& prepare = nullptr) {
  std::remove((dir + "res").c_str());
  const testing::Outcome o = testing::convert_with(dir, room, platform, threads, prepare);
  Result r;
  r.status = o.status;
  r.err = o.err;
  for (int i = 0; i < 3; ++i) {
    const auto it = disk.files.find(dir + kSet[i]);
    if (it != disk.files.end()) r.files[i] = it->second;
  }
  r.res = read_file(dir + "res");
  return r;
}

// One run in `dir` over a fresh disk in memory holding only the raw file, with `threads` threads;
// the clock moves `clock_step` seconds at every reading.
Result run(const std::string& dir, const std::string& raw, int threads, int64_t clock_step,
           int64_t fail_write = 0, int64_t fail_sync = 0, int error = EIO,
           PackAhead pack = PackAhead::kWhenBehind) {
  testing::MemoryDisk disk;
  disk.files[dir + "V26150_1.ab"] = raw;
  CrashFiles room(disk);
  room.fail_write = fail_write;
  room.fail_sync = fail_sync;
  room.error = error;
  testing::FakePlatform platform;
  platform.clock_step = clock_step;
  return run_on(room, disk, platform, dir, threads,
                [pack](RunContext& ctx) { ctx.measuring_thread.pack_ahead(pack); });
}

::testing::AssertionResult same(const Result& one, const Result& two) {
  if (one.status != two.status)
    return ::testing::AssertionFailure() << "status " << one.status << " against " << two.status << "\n"
                                         << two.err;
  if (one.err != two.err)
    return ::testing::AssertionFailure() << "messages:\n" << one.err << "against\n" << two.err;
  for (int i = 0; i < 3; ++i) {
    if (one.files[i] != two.files[i]) return ::testing::AssertionFailure() << kSet[i] << " differs";
  }
  if (one.res != two.res) return ::testing::AssertionFailure() << "res differs";
  return ::testing::AssertionSuccess();
}

class MeasuringThreadRun : public ::testing::Test {
 protected:
  // A simulated day in a folder whose path fits a settings line; "" and a failure when none.
  static std::string simulate(const ShortDir& dir, const std::vector<std::string>& options) {
    const std::string d = dir.path();
    if (d.empty()) {
      ADD_FAILURE() << "no scratch folder whose path fits a settings line";
      return "";
    }
    std::vector<std::string> args = {"--quiet", "--raw-path", d, "--hyd-path", d, "--out", d};
    args.insert(args.end(), options.begin(), options.end());
    const testing::ProcResult sim = testing::run_program(testing::tool_path("rainsim"), args, d);
    if (sim.status != 0) {
      ADD_FAILURE() << "rainsim failed: " << sim.out;
      return "";
    }
    return read_file(d + "V26150_1.ab");
  }
};

TEST(MeasuringThreadCount, OneOrTwoFromTheEnvironment) {
  EXPECT_EQ(run_threads("1"), 1);
  EXPECT_EQ(run_threads("2"), 2);
  const int chosen = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  EXPECT_EQ(run_threads(nullptr), chosen);
  EXPECT_EQ(run_threads("8"), chosen);
  EXPECT_EQ(run_threads(""), chosen);
}

TEST(MeasuringThreadGate, AMessageOfTheReadingSideWaitsForThePairsHandedOverBefore) {
  testing::TestRun t;
  RunContext& ctx = *t.ctx;
  ctx.measuring_thread.begin(2, ctx.minutes, 1000);
  ASSERT_TRUE(ctx.measuring_thread.running());
  // No main header is listed: measuring the pair ends the run on the measuring thread, which one
  // thread would have done before it came to its next message.
  const testing::OwnedPiece a(testing::same_runs(10, 100, 110), 1000);
  const testing::OwnedPiece b(testing::same_runs(10, 100, 110), 1010);
  ctx.measuring_thread.take(a.p, b.p);
  EXPECT_EQ(t.ends_with([&] { errf(ctx.diag, "a message of the reading side\n"); }), kExitFatal);
  ctx.measuring_thread.stop();
  EXPECT_FALSE(ctx.measuring_thread.running());
  EXPECT_EQ(ctx.diag.gate, nullptr);
  EXPECT_EQ(t.err(), "eval_dr 01: no main header in file ?!? \n");
}

TEST(MeasuringThreadGate, ACancelledRunDropsWhatTheWriterHasNotBegun) {
  for (const bool cancel : {false, true}) {
    testing::TestRun t;
    RunContext& ctx = *t.ctx;
    testing::setup_worked_example(ctx);
    ctx.measuring_thread.begin(2, ctx.minutes, 1000);
    const testing::OwnedPiece a(testing::same_runs(10, 100, 110), 1000);
    const testing::OwnedPiece b(testing::same_runs(10, 100, 110), 1010);
    // The pair waits in the open chunk: a drain hands it over and waits for it, a cancel drops it.
    ctx.measuring_thread.take(a.p, b.p);
    if (cancel) {
      ctx.measuring_thread.cancel();
      EXPECT_EQ(ctx.particle_writer.buffered_bytes(), 0);
    } else {
      ctx.measuring_thread.drain();
      EXPECT_GT(ctx.particle_writer.buffered_bytes(), 0);
    }
    ctx.measuring_thread.stop();
    EXPECT_EQ(t.err(), "");
  }
}

TEST(MeasuringThreadGate, ATimedSaveReachesTheWriterWithoutWaitingForMorePairs) {
  testing::TestRun t;
  RunContext& ctx = *t.ctx;
  testing::name_output_set(ctx, t.dir.path());
  testing::prepare_measure(ctx);
  open_output_set(ctx.rawin_part());
  testing::take_header(ctx, testing::raw_header(20000.0, 14699u * 86400u));
  ctx.measuring_thread.begin(2, ctx.minutes, 1000);
  const int32_t before = ctx.measuring_thread.hyd_length();
  const testing::OwnedPiece a(testing::same_runs(10, 100, 110), 1000);
  const testing::OwnedPiece b(testing::same_runs(10, 100, 110), 1010);
  // One pair and the timed save after it, far from a full chunk and with no drain, handed to a
  // writer that has gone to sleep on the empty ring: it must still append the pair and commit.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ctx.measuring_thread.take(a.p, b.p);
  ctx.measuring_thread.save(SaveKind::kCommit);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ctx.measuring_thread.hyd_length() == before && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(ctx.measuring_thread.hyd_length(), before);
  ctx.measuring_thread.stop();
  EXPECT_EQ(t.err(), "");
}

// Pairs of 100 lines per camera (a chunk's runs fill long before its items do) among pairs that
// give messages: a slow one (negative square root arguments), one too wide to pack, one of no
// volume. Packed by the writer or ahead by the day driver, the records, the lines of "res" and the
// messages must be those of one thread, in order, with the headers' geometry or the settings'.
TEST(MeasuringThreadGate, PairsReachTheWriterAsWithOneThreadWhoeverPacksThem) {
  constexpr int kPairs = 200;
  struct Mode {
    int threads;
    PackAhead pack;
  };
  for (const int overwrite : {1, 0}) {
    std::string records[3], res[3], err[3];
    const Mode modes[] = {{1, PackAhead::kNever}, {2, PackAhead::kNever}, {2, PackAhead::kAlways}};
    for (int m = 0; m < 3; ++m) {
      testing::TestRun t;
      RunContext& ctx = *t.ctx;
      testing::setup_worked_example(ctx);
      ctx.settings.overwrite = overwrite;
      ctx.measuring_thread.pack_ahead(modes[m].pack);
      ctx.measuring_thread.begin(modes[m].threads, ctx.minutes, 1000);
      for (int i = 0; i < kPairs; ++i) {
        std::vector<quorda::Run> runs;
        for (int k = 0; k < 100; ++k)
          runs.push_back(
              {static_cast<int16_t>(100 + (k + i) % 5), static_cast<int16_t>(130 + (k * 3 + i) % 7)});
        std::vector<quorda::Run> runs_b = runs;
        if (i % 50 == 7) runs = runs_b = testing::same_runs(3, 100, 1200);  // too wide
        if (i % 50 == 23) runs_b.resize(60);                                // b's runs follow a's in the ring
        if (i % 50 == 19) {
          // No line shadowed in both cameras: no volume.
          runs = {{100, 100}, {100, 101}};
          runs_b = {{100, 101}, {100, 100}};
        }
        const double delay = i % 50 == 31 ? 4e6 : 10.0;  // slow
        const testing::OwnedPiece a(runs, 1000.0 + 300 * i);
        const testing::OwnedPiece b(runs_b, 1000.0 + 300 * i + delay);
        ctx.measuring_thread.take(a.p, b.p);
      }
      ctx.measuring_thread.drain();
      records[m].assign(reinterpret_cast<const char*>(ctx.particle_writer.buffered()),
                        static_cast<size_t>(ctx.particle_writer.buffered_bytes()));
      ctx.measuring_thread.stop();
      res[m] = testing::read_res(t);
      err[m] = t.err();
    }
    EXPECT_GE(records[0].size(), kPairs * kPixHeadSize);
    EXPECT_NE(err[0].find("Domain error"), std::string::npos);
    EXPECT_NE(err[0].find("cannot be packed"), std::string::npos);
    EXPECT_NE(err[0].find("eq_diam problem"), std::string::npos);
    for (int m = 1; m < 3; ++m) {
      EXPECT_TRUE(records[0] == records[m]) << "records differ, mode " << m << ", OVERWRITE " << overwrite;
      EXPECT_EQ(res[0], res[m]) << "mode " << m << ", OVERWRITE " << overwrite;
      EXPECT_EQ(err[0], err[m]) << "mode " << m << ", OVERWRITE " << overwrite;
    }
  }
}

// A platform that types ESC once the day driver has read both cameras' data to the end.
class EscAtTheEndOfTheData : public testing::FakePlatform {
 public:
  int poll_key() override {
    if (ctx_ == nullptr || !ctx_->drv.eof_a || !ctx_->drv.eof_b) return kKeyNone;
    typed.store(true);
    return kKeyEsc;
  }
  void watch(const RunContext& ctx) { ctx_ = &ctx; }

  std::atomic<bool> typed{false};

 private:
  const RunContext* ctx_ = nullptr;
};

// A disk whose syncs on any thread but the one that made it wait until `key` is set (five seconds
// at most in all, so that a run that never sets it still ends): the measuring thread is then still
// at its first timed save when the day driver reaches the end of the data.
class SyncsWaitForKey : public Files {
 public:
  SyncsWaitForKey(Files& disk, const std::atomic<bool>& key) : disk_(disk), key_(key) {}

  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    std::unique_ptr<File> f = disk_.open(path, mode, err);
    return f == nullptr ? nullptr : std::make_unique<Waiting>(std::move(f), *this);
  }
  bool exists(const std::string& path) override { return disk_.exists(path); }
  bool remove(const std::string& path, FileError* err) override { return disk_.remove(path, err); }

 private:
  class Waiting : public File {
   public:
    Waiting(std::unique_ptr<File> f, SyncsWaitForKey& room) : f_(std::move(f)), room_(room) {}
    bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
      return f_->read_at(pos, data, n, got);
    }
    bool write_at(int64_t pos, const void* data, size_t n) override { return f_->write_at(pos, data, n); }
    bool append(const void* data, size_t n) override { return f_->append(data, n); }
    bool size(int64_t* bytes) override { return f_->size(bytes); }
    bool truncate(int64_t bytes) override { return f_->truncate(bytes); }
    bool sync() override {
      if (std::this_thread::get_id() != room_.maker_) {
        while (!room_.key_.load() && std::chrono::steady_clock::now() < room_.give_up_)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      return f_->sync();
    }
    bool close() override { return f_->close(); }

   private:
    std::unique_ptr<File> f_;
    SyncsWaitForKey& room_;
  };

  Files& disk_;
  const std::atomic<bool>& key_;
  const std::thread::id maker_ = std::this_thread::get_id();
  const std::chrono::steady_clock::time_point give_up_ =
      std::chrono::steady_clock::now() + std::chrono::seconds(5);
};

TEST_F(MeasuringThreadRun, AnEscWhileTheDriverWaitsForTheWriterAtTheEndCancelsTheRun) {
  ShortDir dir;
  const std::string raw = simulate(dir, {"--duration", "10"});
  if (raw.empty()) return;
  const Result whole = run(dir.path(), raw, 1, 1);
  ASSERT_EQ(whole.status, 0) << whole.err;

  // The measuring thread waits in the sync of its first timed save until the ESC; the day driver
  // must look at the keyboard while it waits for the writer, or the run would complete instead.
  testing::MemoryDisk disk;
  disk.files[dir.path() + "V26150_1.ab"] = raw;
  EscAtTheEndOfTheData platform;
  platform.clock_step = 1;
  SyncsWaitForKey room(disk, platform.typed);
  const Result cancelled =
      run_on(room, disk, platform, dir.path(), 2, [&](const RunContext& ctx) { platform.watch(ctx); });
  EXPECT_TRUE(platform.typed.load());
  EXPECT_EQ(cancelled.status, kExitOk) << cancelled.err;
  EXPECT_LT(cancelled.files[0].size(), whole.files[0].size()) << "the run was not cancelled";

  // A resumed run completes the set to what one uninterrupted run leaves.
  testing::FakePlatform again;
  again.clock_step = 1;
  const Result resumed = run_on(disk, disk, again, dir.path(), 2);
  ASSERT_EQ(resumed.status, kExitOk) << resumed.err;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(resumed.files[i], whole.files[i]) << kSet[i];
}

TEST_F(MeasuringThreadRun, SimulatedDaysGiveTheSameFilesWithOneAndTwoThreads) {
  // The sample day (two minutes and more of moderate rain), a day with clutter in both cameras and
  // main headers every 20 s, and a busy minute of heavy rain that fills the writer's buffer.
  const std::vector<std::vector<std::string>> days = {
      {"--preset", "sample"},
      {"--duration", "90", "--header-every", "20", "--clutter", "40", "--clutter-cam", "ab", "--seed", "3"},
      {"--preset", "heavy", "--duration", "60", "--seed", "5"}};
  for (const auto& options : days) {
    ShortDir dir;
    const std::string raw = simulate(dir, options);
    if (raw.empty()) return;
    // The clock standing still and moving a second at every reading: timed saves never, or at
    // other moments with each thread count.
    for (int64_t step : {0, 1}) {
      const Result one = run(dir.path(), raw, 1, step);
      ASSERT_EQ(one.status, 0) << one.err;
      ASSERT_FALSE(one.res.empty());
      const Result two = run(dir.path(), raw, 2, step);
      EXPECT_TRUE(same(one, two)) << options[1] << ", clock step " << step;
      const Result packed = run(dir.path(), raw, 2, step, 0, 0, EIO, PackAhead::kAlways);
      EXPECT_TRUE(same(one, packed)) << options[1] << ", clock step " << step << ", packed ahead";
    }
  }
}

TEST_F(MeasuringThreadRun, AFailedWriteOrSyncEndsTheRunAsWithOneThread) {
  ShortDir dir;
  const std::string raw = simulate(dir, {"--duration", "20", "--header-every", "5"});
  if (raw.empty()) return;
  // Both thread counts make the same writes and syncs in the same order (the writer's clock is the
  // day driver's reading at each pass), so the N-th fails in both: at an append of the writer's
  // buffer or a commit of a timed save (on the measuring thread), or at a main header or the final
  // save (on the reading thread). The clock moves a second at every reading: timed saves come
  // every few passes.
  int writer_failures = 0;
  for (int error : {ENOSPC, EIO}) {
    for (int64_t n = 1;; n += kStride) {
      const Result one = run(dir.path(), raw, 1, 1, n, 0, error);
      if (one.status == 0) break;  // past the last write
      ASSERT_EQ(one.status, 1) << one.err;
      const Result two = run(dir.path(), raw, 2, 1, n, 0, error);
      ASSERT_TRUE(same(one, two)) << "write " << n << " failed with " << error;
      if (one.err.find(" net_wr02 : ") != std::string::npos) ++writer_failures;
    }
  }
  for (int64_t n = 1;; n += kStride) {
    const Result one = run(dir.path(), raw, 1, 1, 0, n, EIO);
    if (one.status == 0) break;
    const Result two = run(dir.path(), raw, 2, 1, 0, n, EIO);
    ASSERT_TRUE(same(one, two)) << "sync " << n << " failed";
  }
  EXPECT_GT(writer_failures, 10) << "too few appends of the writer's buffer failed";
}

TEST_F(MeasuringThreadRun, AFatalConditionOfTheReadingSideComesAfterThePairsHandedOver) {
  ShortDir dir;
  std::string raw = simulate(dir, {"--duration", "40", "--header-every", "0"});
  if (raw.empty()) return;
  // The raw file cut at the first record boundary past its middle and its first half appended
  // again: the line numbers fall where the copy begins, which ends the run on the reading side
  // while pairs of the lines before are still on their way to the writer.
  size_t half = 0;
  while (half < raw.size() / 2 && half + kRecordHeadSize <= raw.size()) {
    const auto len =
        static_cast<int16_t>(static_cast<uint8_t>(raw[half + 2]) | static_cast<uint8_t>(raw[half + 3]) << 8);
    ASSERT_GE(len, 0);
    half += kRecordHeadSize + static_cast<size_t>(len);
  }
  const std::string twice = raw.substr(0, half) + raw.substr(0, half);
  const Result one = run(dir.path(), twice, 1, 1);
  ASSERT_EQ(one.status, 1) << one.err;
  ASSERT_NE(one.err.find("neg. time jump"), std::string::npos) << one.err;
  ASSERT_FALSE(one.res.empty());
  const Result two = run(dir.path(), twice, 2, 1);
  EXPECT_TRUE(same(one, two));

  // A write of the measuring thread failing before that: the run ends with the write's message
  // alone, as with one thread, even where the reading side has got to the fall meanwhile.
  int cases = 0;
  for (int64_t n = 1;; n += kStride) {
    const Result one_failed = run(dir.path(), twice, 1, 1, n, 0, ENOSPC);
    if (one_failed.err.find("neg. time jump") != std::string::npos) break;  // the write came after it
    ASSERT_EQ(one_failed.status, 1);
    const Result two_failed = run(dir.path(), twice, 2, 1, n, 0, ENOSPC);
    ASSERT_TRUE(same(one_failed, two_failed)) << "write " << n;
    if (one_failed.err.find(" net_wr") != std::string::npos) ++cases;
  }
  EXPECT_GT(cases, 5);
}

}  // namespace
}  // namespace quorda
