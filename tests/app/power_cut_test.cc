// Whole runs of the converter over a file room that loses power after the N-th write, with every
// write since the last sync kept, dropped, torn at a 512-byte boundary, a mix of these or torn
// sector by sector; and
// writes, syncs and closes that fail. After each, one plain run must leave the output set exactly
// as one uninterrupted run leaves it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/run_context.h"
#include "base/bytes.h"
#include "format/hyd_walker.h"
#include "format/minute_table.h"
#include "format/output_set_heads.h"
#include "outset/raw_positions.h"
#include "support/crash_files.h"
#include "support/memory_run.h"
#include "support/output_fixture.h"
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

// A simulated day on a disk in memory and the set one uninterrupted run makes of it.
struct Day {
  ShortDir dir;
  testing::MemoryDisk disk;
  std::vector<std::string> set;  // or the reason the day could not be made
  int64_t writes = 0;
  int64_t syncs = 0;

  // The raw file and the output set live on the disk in memory; the settings, corrfact.dat and
  // "res" in the folder.
  explicit Day(std::vector<std::string> sim_args) {
    const std::string d = dir.path();
    if (d.empty()) {
      set = {"no scratch folder whose path fits a settings line"};
      return;
    }
    for (const char* a : {"--quiet", "--raw-path", "--hyd-path", "--out"}) {
      sim_args.emplace_back(a);
      if (std::string(a) != "--quiet") sim_args.push_back(d);
    }
    const testing::ProcResult sim = testing::run_program(testing::tool_path("rainsim"), sim_args, d);
    if (sim.status != 0) {
      set = {"rainsim failed: " + sim.out};
      return;
    }
    disk.files[d + "V26150_1.ab"] = read_file(d + "V26150_1.ab");
    CrashFiles counting(disk);
    const Outcome o = convert(d, counting);
    if (o.status != 0) {
      set = {"status " + std::to_string(o.status) + "\n" + o.err};
      return;
    }
    writes = counting.writes;
    syncs = counting.syncs;
    for (const char* f : kSet) set.push_back(disk.files[d + f]);
  }

  void clear_outputs() {
    for (const char* f : kSet) disk.files.erase(dir.path() + f);
  }
  // The set as one plain run after the fault leaves it, against the uninterrupted run's.
  ::testing::AssertionResult resumed_equals_one_run() {
    CrashFiles room(disk);  // without faults; its syncs cost no disk time
    const Outcome o = convert(dir.path(), room);
    if (o.status != 0)
      return ::testing::AssertionFailure() << "resumed run ended with " << o.status << "\n" << o.err;
    for (int i = 0; i < 3; ++i) {
      if (disk.files[dir.path() + kSet[i]] != set[static_cast<size_t>(i)])
        return ::testing::AssertionFailure() << kSet[i] << " differs from one run\n" << o.err;
    }
    return ::testing::AssertionSuccess();
  }
  // A power cut after write n with `loss`, then one plain run.
  ::testing::AssertionResult cut_and_resume(int64_t n, Loss loss, uint64_t seed) {
    clear_outputs();
    CrashFiles room(disk);
    room.cut_after = n;
    room.loss = loss;
    room.seed = seed;
    const Outcome first = convert(dir.path(), room);
    if (!first.cut) return ::testing::AssertionFailure() << "write " << n << " never came";
    room.settle();
    return resumed_equals_one_run() << "power cut after write " << n << ", loss " << static_cast<int>(loss)
                                    << ", seed " << seed;
  }
};

class PowerCut : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // 10 s of moderate rain with a main header every 5 s: some 230 particles.
    day_ = new Day({"--duration", "10", "--header-every", "5"});
    writes_ = day_->writes;
    syncs_ = day_->syncs;
  }
  static void TearDownTestSuite() {
    delete day_;
    delete heavy_;
  }
  void SetUp() override {
    ASSERT_GT(writes_, 0) << "the simulated day could not be made and converted: "
                          << (day_->set.empty() ? std::string() : day_->set.front());
  }
  // Three minutes of heavy rain, main headers a minute apart: minute tables of several minutes.
  static Day& heavy() {
    if (heavy_ == nullptr) heavy_ = new Day({"--duration", "180", "--rate", "40", "--header-every", "60"});
    return *heavy_;
  }

  static void clear_outputs() { day_->clear_outputs(); }
  static ::testing::AssertionResult resumed_equals_one_run() { return day_->resumed_equals_one_run(); }

  static Day* day_;
  static Day* heavy_;
  static int64_t writes_;
  static int64_t syncs_;
};
Day* PowerCut::day_ = nullptr;
Day* PowerCut::heavy_ = nullptr;
int64_t PowerCut::writes_ = 0;
int64_t PowerCut::syncs_ = 0;

TEST_F(PowerCut, AfterEveryWriteWithUnsyncedWritesKeptDroppedTornOrMixedTheResumedSetIsOneRun) {
  const Loss losses[] = {Loss::kKept, Loss::kDropped, Loss::kTorn, Loss::kMixed};
  int points = 0;
  for (int64_t n = 1; n <= writes_; n += kStride) {
    for (Loss loss : losses) {
      ASSERT_TRUE(day_->cut_and_resume(n, loss, static_cast<uint64_t>(n)));
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
      CrashFiles room(day_->disk);
      room.*c.which = n;
      room.error = c.error;
      const Outcome first = convert(day_->dir.path(), room);
      ASSERT_EQ(first.status, 1) << "point " << n << "\n" << first.err;
      EXPECT_NE(first.err.find(std::string(": ") + std::strerror(c.error) + "\n"), std::string::npos)
          << first.err;
      ASSERT_TRUE(resumed_equals_one_run()) << "failure at " << n;
    }
  }
  // A failed close of an output file at the end of the run: the run counts as failed.
  for (int64_t n = 1; n <= 3; ++n) {
    clear_outputs();
    CrashFiles room(day_->disk);
    room.fail_close = n;  // a new set: the index, hydrometeor and header file are closed in this order
    room.error = EIO;
    const Outcome first = convert(day_->dir.path(), room);
    EXPECT_EQ(first.status, 1) << first.err;
    EXPECT_NE(first.err.find(" clean_up0" + std::to_string(n) + " : " + std::strerror(EIO)),
              std::string::npos)
        << first.err;
  }
}

// A run that ends with status 0 has synced every write it made: a power cut right after it, with
// every unsynced write lost, leaves the set it completed.
TEST_F(PowerCut, TheSetOfACompletedRunSurvivesAPowerCutRightAfterIt) {
  clear_outputs();
  CrashFiles room(day_->disk);
  room.loss = Loss::kDropped;
  const Outcome o = convert(day_->dir.path(), room);
  ASSERT_EQ(o.status, 0) << o.err;
  room.settle();
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(day_->disk.files[day_->dir.path() + kSet[i]] == day_->set[static_cast<size_t>(i)])
        << kSet[i] << " on the disk is not the completed run's";
}

// Every sector of every write since the last sync old or new on its own, on the light day at every
// write and on the heavy day at a sample of its writes: the commit is the last saved line alone,
// so a mix of old and new heads is never taken for one.
TEST_F(PowerCut, AfterWritesTornSectorBySectorTheResumedSetIsOneRun) {
  constexpr uint64_t kSeeds = 3;
  int points = 0;
  for (int64_t n = 1; n <= writes_; n += kStride) {
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
      ASSERT_TRUE(day_->cut_and_resume(n, Loss::kSectors, seed * 1000 + static_cast<uint64_t>(n)));
      ++points;
    }
  }
  Day& h = heavy();
  ASSERT_GT(h.writes, 0) << (h.set.empty() ? std::string() : h.set.front());
  constexpr int64_t kHeavyPoints = 150;
  const int64_t step = std::max<int64_t>(1, h.writes / kHeavyPoints) * kStride;
  for (int64_t n = 1; n <= h.writes; n += step) {
    ASSERT_TRUE(h.cut_and_resume(n, Loss::kSectors, static_cast<uint64_t>(n)));
    ++points;
  }
  RecordProperty("sector_torn_points", points);
  RecordProperty("heavy_day_writes", static_cast<int>(h.writes));
}

// The three files of a set, to be damaged in place.
struct SetFiles {
  std::string hyd, hd, abh;
};

// Links record `from`'s copy, appended at the end, to the stream: its back link is the length of
// the record before it.
std::string with_copies(const std::string& hyd, size_t first, size_t last) {
  const HydWalk w = walk_hyd(testing::bytes_of(hyd));
  std::string out = hyd;
  for (size_t k = first; k <= last && k < w.records.size(); ++k) {
    std::string rec =
        hyd.substr(static_cast<size_t>(w.records[k].offset), static_cast<size_t>(w.records[k].length));
    const auto prev_len =
        static_cast<int16_t>(k == first ? w.records.back().length : w.records[k - 1].length);
    put_i16(reinterpret_cast<uint8_t*>(rec.data()) + 2, prev_len);
    out += rec;
  }
  return out;
}

void put_entry(std::string& abh, size_t table, int minute, int32_t v) {
  put_minute_entry(reinterpret_cast<uint8_t*>(abh.data()) + table, minute, v);
}
int32_t entry(const std::string& abh, size_t table, int minute) {
  return get_minute_entry(reinterpret_cast<const uint8_t*>(abh.data()) + table, minute);
}

// Sets damaged in place, half converted and complete: the converter ends with status 0 and the set
// one run makes, or with status 1, the damaged file named and the set untouched.
TEST_F(PowerCut, DamagedSetsEndAsOneRunOrAreRefusedUntouched) {
  Day& h = heavy();
  ASSERT_GT(h.writes, 0) << (h.set.empty() ? std::string() : h.set.front());
  const std::string d = h.dir.path();
  h.clear_outputs();
  CrashFiles room(h.disk);
  room.cut_after = h.writes / 2;
  ASSERT_TRUE(convert(d, room).cut);
  room.settle();
  const SetFiles half{h.disk.files[d + kSet[0]], h.disk.files[d + kSet[1]], h.disk.files[d + kSet[2]]};
  const SetFiles whole{h.set[0], h.set[1], h.set[2]};
  const HydWalk walk = walk_hyd(testing::bytes_of(half.hyd));
  double line_fr = 0;
  for (const HydEntry& e : walk.records)
    if (e.header) line_fr = e.line_fr;
  const RestartPoint r = restart_point(testing::bytes_of(half.abh), line_fr);
  const size_t n = walk.records.size();
  ASSERT_GT(r.entry_a, 2) << "the half-converted day should restart past its first minutes";

  struct Case {
    const char* what;
    bool complete;
    std::function<void(SetFiles&)> damage;
  };
  const size_t kA = kAbhMinutePosAOffset, kB = kAbhMinutePosBOffset;
  std::vector<Case> cases = {
      {"hyd cut mid-record", false, [](SetFiles& f) { f.hyd.resize(f.hyd.size() - 7); }},
      {"hyd cut to half", false, [](SetFiles& f) { f.hyd.resize(f.hyd.size() / 2); }},
      {"hyd empty", true, [](SetFiles& f) { f.hyd.clear(); }},
      {"hd cut into its head", false, [](SetFiles& f) { f.hd.resize(kHdHeadSize - 1); }},
      {"hd cut mid-record", true, [](SetFiles& f) { f.hd.resize(f.hd.size() - 30); }},
      {"hd pos_pix entries flipped", false,
       [](SetFiles& f) { f.hd[40] ^= 0x10, f.hd[kHdHeadSize - 3] ^= 1; }},
      {"hd oldlen flipped", true, [](SetFiles& f) { f.hd[kHdLastRecordLenOffset] ^= 2; }},
      {"abh cut", false, [](SetFiles& f) { f.abh.resize(kAbhCreatedSize - 1); }},
      {"abh longer", false, [](SetFiles& f) { f.abh += std::string(4, '\0'); }},
      {"abh a byte longer", true, [](SetFiles& f) { f.abh += '\0'; }},
      {"lastpix flipped", false, [](SetFiles& f) { f.abh[kAbhLastSavedLineOffset + 1] ^= 4; }},
      {"abh missing", false, [](SetFiles& f) { f.abh = "missing"; }},
      {"hd missing", true, [](SetFiles& f) { f.hd = "missing"; }},
      {"set of another day", false,
       [this](SetFiles& f) {
         f = {day_->set[0], day_->set[1], day_->set[2]};
         for (std::string* b : {&f.hyd, &f.hd})
           for (size_t at = b->find("V26150_1.hyd"); at != std::string::npos;
                at = b->find("V26150_1.hyd", at))
             b->replace(at, 6, "V26151");
       }},
      {"posb_bf decreasing", true,
       [&](SetFiles& f) { put_entry(f.abh, kB, r.entry_b + 1, entry(f.abh, kB, r.entry_b) - 1); }},
      {"posa_bf entry set to the next", false,
       [&](SetFiles& f) { put_entry(f.abh, kA, r.entry_a - 1, entry(f.abh, kA, r.entry_a)); }},
      {"t1 falls", false,
       [&](SetFiles& f) {
         std::memcpy(f.hyd.data() + walk.records[n / 2].offset + 4, "\0\0\0\0\0\0\0\0", 8);
       }},
      {"records repeated at the end", false, [&](SetFiles& f) { f.hyd = with_copies(f.hyd, n / 2, n - 1); }},
  };
  for (int32_t by : {1, 2, 4, 30, 400, 1000, -1, -4, -1000}) {
    cases.push_back({"posa_bf restart moved", false,
                     [&r, by](SetFiles& f) { put_entry(f.abh, kA, r.entry_a, r.pos_a + by); }});
    cases.push_back({"posb_bf restart moved", false,
                     [&r, by](SetFiles& f) { put_entry(f.abh, kB, r.entry_b, r.pos_b + by); }});
  }
  int refused = 0;
  for (const Case& c : cases) {
    SetFiles f = c.complete ? whole : half;
    c.damage(f);
    h.clear_outputs();
    for (int i = 0; i < 3; ++i) {
      const std::string& b = i == 0 ? f.hyd : i == 1 ? f.hd : f.abh;
      if (b != "missing") h.disk.files[d + kSet[i]] = b;
    }
    CrashFiles plain(h.disk);
    const Outcome o = convert(d, plain);
    if (o.status == 0) {
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(h.disk.files[d + kSet[i]], h.set[static_cast<size_t>(i)]) << c.what;
      continue;
    }
    ++refused;
    EXPECT_EQ(o.status, 1) << c.what << "\n" << o.err;
    EXPECT_NE(o.err.find("the output set cannot be continued"), std::string::npos) << c.what << "\n" << o.err;
    for (int i = 0; i < 3; ++i) {
      const std::string& b = i == 0 ? f.hyd : i == 1 ? f.hd : f.abh;
      EXPECT_EQ(h.disk.files.count(d + kSet[i]) ? h.disk.files[d + kSet[i]] : "missing", b) << c.what;
    }
  }
  RecordProperty("refused", refused);
  EXPECT_GT(refused, 20);
}

}  // namespace
}  // namespace quorda
