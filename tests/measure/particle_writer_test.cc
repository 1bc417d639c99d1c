// The particle writer: buffering, the drop rule, the save rules, the saved heads and the
// per-minute index, and the resume of an earlier run.
#include "measure/particle_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/clean_up.h"
#include "base/bytes.h"
#include "format/main_header.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"
#include "rawin/minute_index.h"
#include "support/full_files.h"
#include "support/output_fixture.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::TestRun;

constexpr double kLineFr = 20000.0;
constexpr double kMinute = kLineFr * 60;
constexpr uint32_t kMidnight = 14699u * 86400u;  // a header in force from the start of the day

// One run of the converter's output side over an output set in `dir`.
struct OutputRun {
  explicit OutputRun(const std::string& dir) {
    testing::name_output_set(ctx, dir);
    testing::prepare_measure(ctx);
    open_output_set(ctx.rawin_part());
  }
  void header(double line_fr = kLineFr, uint32_t valid_since = kMidnight) {
    request();  // the driver saves before every main header
    testing::take_header(ctx, testing::raw_header(line_fr, valid_since));
  }
  // A pair whose record is `len` bytes long: pieces of one pixel width and n lines each give
  // 30 + 2 * (passes + 1) bytes, so 20, 40 and 60 lines give 40, 50 and 60 bytes.
  void pair(double t1, int lines = 20) {
    ctx.particle_writer.add(*pieces.make(t1, lines), *pieces.make(t1 + 20, lines));
  }
  void request() { ctx.particle_writer.save(SaveKind::kCommit); }
  void finish() {
    ctx.particle_writer.save_final();
    clean_up(ctx);
  }
  std::string hyd() { return read_file(ctx.out.hyd_name); }
  std::string hd() { return read_file(ctx.out.hd_name); }
  std::string abh() { return read_file(ctx.out.abh_name); }
  HydWalk check() { return testing::expect_consistent_set(ctx.out.hyd_name, ctx.out.hd_name, kLineFr); }

  TestRun t;
  RunContext& ctx = *t.ctx;
  testing::PieceStore pieces;
};

struct WriterRun : ::testing::Test {
  WriterRun() : r(dir.path()) { r.header(); }
  testing::ScratchDir dir;
  OutputRun r;
  StreamFraming& w = r.ctx.framing;
  ParticleWriter& hw = r.ctx.particle_writer;
};

TEST_F(WriterRun, RecordsWithinOneSecondStayInTheBufferWithTheirBackLinks) {
  r.pair(1000, 20);
  r.pair(2000, 60);
  r.pair(3000, 40);
  EXPECT_EQ(hw.buffered_bytes(), 150);
  EXPECT_EQ(w.last_record_len, 50);
  EXPECT_EQ(hw.last_buffered_t1(), 3000.0);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize);  // nothing written yet
  EXPECT_EQ(get_i16(hw.buffered() + pixhead::kLenPrev), 74);
  EXPECT_EQ(get_i16(hw.buffered() + 40 + pixhead::kLenPrev), 40);
  EXPECT_EQ(get_i16(hw.buffered() + 100 + pixhead::kLenPrev), 60);

  r.finish();
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize + 150);
  EXPECT_EQ(testing::particle_lines(r.check()), (std::vector<double>{1000, 2000, 3000}));
}

// The fixture's save before its main header came at clock 1000; the clock stands still between
// the test's settings.
TEST_F(WriterRun, TheTimedSaveComesAtTheFirstPairMoreThanThreeSecondsAfterTheLastSave) {
  r.pair(500);
  r.t.platform.clock = 1003;
  r.pair(1000);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize);
  r.t.platform.clock = 1004;
  r.pair(2000);  // the two before it are saved and committed first
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize + 80);
  EXPECT_EQ(w.last_saved_line, 1000u);
  r.t.platform.clock = 1007;
  r.pair(3000);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize + 80);
  r.t.platform.clock = 1008;
  r.pair(4000);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize + 160);
}

TEST_F(WriterRun, RecordBringingTheBufferToExactlyItsSizeSavesFirst) {
  // 4999 records of 40 bytes leave 40 bytes of room: the 5000th would fill it exactly.
  for (int i = 0; i < 4999; ++i) r.pair(100.0 + i);
  EXPECT_EQ(hw.buffered_bytes(), 199960);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize);
  r.pair(100.0 + 4999);
  EXPECT_EQ(hw.buffered_bytes(), 40);
  EXPECT_EQ(r.hyd().size(), kMainHeaderSize + 199960);
  // A save for a full buffer only appends it: the resume point moves at the next commit.
  EXPECT_EQ(w.last_saved_line, 0u);
  r.request();
  EXPECT_EQ(w.last_saved_line, 100u + 4999u);
  r.finish();
  EXPECT_EQ(testing::particle_lines(r.check()).size(), 5000u);
}

TEST_F(WriterRun, ParticlesThatTheEarlierRunSavedAreDroppedAndOnlyThose) {
  // As open_output_set restores it: the kept stream ends with two particles at line 5000.
  w.resume_drop = true;
  w.resume_t1 = 5000;
  w.resume_ties = 2;
  r.pair(4999);
  r.pair(5000);
  r.pair(5000);
  EXPECT_EQ(hw.buffered_bytes(), 0);
  EXPECT_EQ(w.last_record_len, 74);
  r.pair(5000);  // a third particle on that line was not saved
  r.pair(5000.25);
  EXPECT_EQ(hw.buffered_bytes(), 80);
  r.finish();
  EXPECT_EQ(testing::particle_lines(r.check()), (std::vector<double>{5000, 5000.25}));
}

TEST_F(WriterRun, TwoParticlesWithTheSameFirstLineAroundASaveAreBothWritten) {
  r.pair(7000);
  r.request();
  EXPECT_EQ(w.last_saved_line, 7000u);
  r.pair(7000);
  r.finish();
  EXPECT_EQ(testing::particle_lines(r.check()), (std::vector<double>{7000, 7000}));
}

TEST_F(WriterRun, PosPixTakesTheRecordOffsetForEveryMinuteUpToTheParticles) {
  r.pair(2 * kMinute + 5);
  EXPECT_EQ(w.pos_pix[1], 74);
  EXPECT_EQ(w.pos_pix[2], 74);
  EXPECT_EQ(w.pix_minute, 2);
  w.pos_pix[4] = 60;  // set by an earlier run: kept
  r.pair(5 * kMinute + 1);
  EXPECT_EQ(w.pos_pix[3], 74 + 40);
  EXPECT_EQ(w.pos_pix[4], 60);
  EXPECT_EQ(w.pos_pix[5], 74 + 40);
  EXPECT_EQ(w.pos_pix[6], -1);
  EXPECT_EQ(w.pix_minute, 5);
  r.pair(5 * kMinute + 9);  // same minute: nothing new
  EXPECT_EQ(w.pos_pix[6], -1);

  r.pair(1442 * kMinute);  // beyond the table: not entered
  EXPECT_EQ(w.pix_minute, 5);
  EXPECT_EQ(w.pos_pix[1441], -1);
  r.ctx.hdr.line_fr = 0.0;  // no minute can be formed
  r.pair(1443 * kMinute);
  EXPECT_EQ(w.pix_minute, 5);
  EXPECT_EQ(hw.buffered_bytes(), 5 * 40);
}

TEST_F(WriterRun, BackLinkAfterAMainHeaderIs74) {
  r.pair(1000);
  r.header(kLineFr, kMidnight + 60);
  r.pair(2 * kMinute);
  r.finish();
  HydWalk walk = r.check();
  ASSERT_EQ(walk.records.size(), 4u);
  EXPECT_TRUE(walk.records[2].header);
  EXPECT_EQ(walk.records[2].len_prev, 40);
  EXPECT_EQ(walk.records[3].len_prev, 74);
  EXPECT_EQ(walk.records[3].offset, r.ctx.framing.pos_pix[2]);
}

TEST_F(WriterRun, EmptySaveRequestLeavesTheFilesButTheFinalSaveWritesTheHeads) {
  r.request();  // commits the main header record
  const std::string hyd = r.hyd(), hd = r.hd(), abh = r.abh();
  r.ctx.minutes.minute_pos_a[3] = 777;
  w.last_record_len = 74;
  r.request();
  EXPECT_FALSE(w.commit_due);
  EXPECT_EQ(r.hyd(), hyd);
  EXPECT_EQ(r.hd(), hd);
  EXPECT_EQ(r.abh(), abh);

  w.commit_due = true;
  hw.save_final();
  EXPECT_FALSE(w.commit_due);
  EXPECT_EQ(r.hyd(), hyd);
  const std::string saved = r.abh();
  ASSERT_EQ(saved.size(), kAbhSavedSize);
  EXPECT_EQ(get_i32(reinterpret_cast<const uint8_t*>(saved.data()) + 12), 777);
  EXPECT_EQ(saved.substr(kAbhLastSavedLineOffset), std::string(8, '\0'));  // the last saved line stays 0
  EXPECT_EQ(r.hd().size(), hd.size());
  EXPECT_EQ(get_i16(reinterpret_cast<const uint8_t*>(r.hd().data()) + kHdLastRecordLenOffset), 74);
}

// The files of a run, after a scenario with headers, minute marks and particles.
struct SetFiles {
  std::string hyd, hd, abh;
  bool operator==(const SetFiles&) const = default;
};

SetFiles convert(int64_t clock_step, size_t* hyd_midway) {
  testing::ScratchDir dir;
  OutputRun r(dir.path());
  r.t.platform.clock_step = clock_step;
  r.header();
  std::vector<LineRecord> lines(2);
  // Like the day driver: a save request more than three seconds after its last one, and a minute
  // mark for every block; the last 20 blocks bring no particle.
  auto block = [&](int i) {
    const int64_t now = r.ctx.platform.now();
    if (now > r.ctx.drv.last_write_time + 3) {
      r.ctx.drv.last_write_time = now;
      r.request();
    }
    // 300 blocks with particles in 7.5 minutes, then 20 more in the next 10 minutes.
    const double y = i < 300 ? 1000.0 + i * 30000.0 : 9001000.0 + (i - 300) * 600000.0;
    lines[0].y_count = y;
    lines[1].y_count = y + 1;
    r.ctx.drv.prev_a = 100 * i;
    mark_minute(r.ctx.rawin_part(), Camera::kA, LineBlock{2, lines.data()});
    return y;
  };
  for (int i = 0; i < 300; ++i) {
    const double t1 = block(i);
    r.pair(t1, 20 + (i % 3) * 20);
    if (i == 150) *hyd_midway = r.hyd().size();
    if (i == 200) r.header(kLineFr, kMidnight + 3600);
  }
  for (int i = 300; i < 320; ++i) block(i);
  r.finish();
  r.check();
  return {r.hyd(), r.hd(), r.abh()};
}

TEST(WriterSaves, FinalFilesDoNotDependOnWhenTheTimedSavesHappened) {
  size_t still_midway = 0, moving_midway = 0;
  const SetFiles still = convert(0, &still_midway);
  const SetFiles moving = convert(1, &moving_midway);
  EXPECT_EQ(still_midway, kMainHeaderSize);
  EXPECT_GT(moving_midway, still_midway);  // the moving clock saved along the way
  EXPECT_EQ(still.hyd.size(), 2 * kMainHeaderSize + 100 * (40 + 50 + 60));
  EXPECT_TRUE(still == moving);
}

TEST(WriterResume, DayAt55000LinesPerSecondResumedAfter2200WritesNoParticleTwice) {
  constexpr double kFr = 55000.0;
  const double t0 = 22.0 * 3600 * kFr + 12345;  // beyond 2^32 lines
  ASSERT_GT(t0, 4294967296.0);
  testing::ScratchDir dir;
  std::vector<LineRecord> lines(1);
  auto mark = [&](OutputRun& r, int camera, double y, int32_t pos) {
    lines[0].y_count = y;
    (camera == 1 ? r.ctx.drv.prev_a : r.ctx.drv.prev_b) = pos;
    mark_minute(r.ctx.rawin_part(), static_cast<Camera>(camera), LineBlock{1, lines.data()});
  };
  {
    OutputRun first(dir.path());
    first.header(kFr);
    mark(first, 1, t0 - 70 * kFr, 1000);  // minute 1318
    mark(first, 2, t0 - 70 * kFr, 1004);
    mark(first, 1, t0 - 10 * kFr, 2000);  // minute 1319
    mark(first, 2, t0 - 10 * kFr, 2004);
    mark(first, 1, t0, 3000);  // minute 1320
    mark(first, 2, t0 + 1, 3004);
    for (int k = 0; k < 10; ++k) first.pair(t0 + k * 1000, 20);
    first.finish();
    const std::string abh = first.abh();
    const auto* p = reinterpret_cast<const uint8_t*>(abh.data());
    EXPECT_EQ(get_u64(p + kAbhLastSavedLineOffset), static_cast<uint64_t>(t0 + 9000));
  }
  OutputRun second(dir.path());
  EXPECT_TRUE(second.ctx.framing.resume_drop);
  EXPECT_EQ(second.ctx.framing.resume_t1, t0 + 9000);
  EXPECT_EQ(second.ctx.framing.resume_ties, 1);
  EXPECT_EQ(second.ctx.drv.pos_a, 2000);  // the minute before the last particle's block
  EXPECT_EQ(second.ctx.drv.pos_b, 2004);
  second.header(kFr);  // met again in the raw file: taken once
  for (int k = 0; k < 15; ++k) second.pair(t0 + k * 1000, 20);
  second.finish();
  HydWalk walk = testing::expect_consistent_set(second.ctx.out.hyd_name, second.ctx.out.hd_name, kFr);
  std::vector<double> expected;
  for (int k = 0; k < 15; ++k) expected.push_back(t0 + k * 1000);
  EXPECT_EQ(testing::particle_lines(walk), expected);
  EXPECT_EQ(walk.records.size(), 16u);  // one main header
}

// A failed write would lose output silently: the tag is reported and the run ends.
TEST(WriterFailures, FailedWritesReportTheirTagAndEndTheRun) {
  struct Case {
    const char* tag;
    std::function<OutFile&(RunContext&)> stream;
  };
  const std::vector<Case> cases = {
      {" net_wr02 ", [](RunContext& c) -> OutFile& { return c.out.hyd_stream; }},
      {" net_wr05 ", [](RunContext& c) -> OutFile& { return c.out.hd_stream; }},
      {" net_wr09 ", [](RunContext& c) -> OutFile& { return c.out.abh_stream; }},
  };
  for (const Case& c : cases) {
    testing::ScratchDir dir;
    OutputRun r(dir.path());
    r.header();
    r.pair(1000);
    testing::FullFiles full;
    ASSERT_TRUE(c.stream(r.ctx).open(full, "full", false));
    r.t.clear_streams();
    EXPECT_EQ(r.t.ends_with([&] { r.request(); }), kExitFatal) << c.tag;
    EXPECT_EQ(r.t.err(), std::string(c.tag) + ": " + std::strerror(ENOSPC) + "\n");
  }
}

}  // namespace
}  // namespace quorda
