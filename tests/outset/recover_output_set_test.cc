// Recovery of an output set: what is kept of the stream and the header file after a run that
// stopped between its saves, and which sets are refused.
#include "outset/recover_output_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/main_header.h"
#include "format/output_set_heads.h"
#include "support/output_fixture.h"
#include "support/stream_builder.h"

namespace quorda {
namespace {

using testing::abh_bytes;
using testing::bytes_of;
using testing::hd_bytes;
using testing::new_pos_pix;
using testing::StreamBuilder;

constexpr double kLineFr = 1000.0;
constexpr double kMinute = kLineFr * 60;

// The files of one set, as the tests shape them.
struct Files {
  std::string hyd, hd, abh;
  bool hyd_exists = true, hd_exists = true, abh_exists = true;
  int64_t raw_size = 1 << 20;

  RecoveryPlan plan() const {
    SetOnDisk s;
    s.hyd_exists = hyd_exists;
    s.hd_exists = hd_exists;
    s.abh_exists = abh_exists;
    s.hyd = bytes_of(hyd);
    s.hd = bytes_of(hd);
    s.abh = bytes_of(abh);
    s.raw_size = raw_size;
    return plan_recovery(s);
  }
};

std::vector<int32_t> raw_index(int32_t base) {
  std::vector<int32_t> t(kMinutes, 0);
  for (int m = 600; m < kMinutes; ++m) t[static_cast<size_t>(m)] = base + 10 * (m - 600);
  return t;
}

// A set as a commit left it: a header, particles in minutes 600 and 601, pos_pix for both.
struct Committed {
  Committed() {
    sb.header(kLineFr, 3600).particle(600 * kMinute + 5).particle(600 * kMinute + 90, 40);
    sb.particle(601 * kMinute + 7, 34);
    pos_pix = new_pos_pix();
    for (int m = 1; m <= 600; ++m) pos_pix[static_cast<size_t>(m)] = sb.offsets()[0];
    pos_pix[601] = sb.offsets()[2];
    f.hyd = sb.stream();
    f.hd = hd_bytes(pos_pix, sb.last_len(), sb.hd_records());
    f.abh = abh_bytes(raw_index(100), raw_index(104), static_cast<uint64_t>(601 * kMinute + 7));
  }
  StreamBuilder sb;
  std::vector<int32_t> pos_pix;
  Files f;
};

std::vector<int32_t> pos_pix_of(const RecoveryPlan& p) {
  return read_pos_pix(std::span<const uint8_t>(p.hd_head));
}

TEST(RecoverOutputSet, SetAtItsCommitIsKeptWholeAndGivesTheDropPoint) {
  Committed c;
  const RecoveryPlan p = c.f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_EQ(p.hyd_keep, static_cast<int64_t>(c.f.hyd.size()));
  EXPECT_EQ(p.hyd_cut_bytes, 0);
  EXPECT_EQ(p.hd_keep, static_cast<int64_t>(c.f.hd.size()));
  EXPECT_EQ(p.hd_cut_records, 0);
  EXPECT_FALSE(p.hd_head_changed);
  EXPECT_FALSE(p.new_hd || p.new_abh);
  EXPECT_TRUE(p.any_particle);
  EXPECT_EQ(p.last_t1, 601 * kMinute + 7);
  EXPECT_EQ(p.last_t1_count, 1);
}

TEST(RecoverOutputSet, RecordsAppendedAfterTheCommitAreCutWithTheirMinuteEntries) {
  Committed c;
  const size_t committed = c.f.hyd.size();
  // A full buffer appended, a main header in both files, then the heads of a later save reached
  // the header file only.
  c.sb.particle(601 * kMinute + 50).particle(602 * kMinute + 1, 36).header(kLineFr, 3660);
  std::vector<int32_t> later = c.pos_pix;
  later[602] = c.sb.offsets()[4];
  c.f.hyd = c.sb.stream();
  c.f.hd = hd_bytes(later, 74, c.sb.hd_records());
  const RecoveryPlan p = c.f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_EQ(p.hyd_keep, static_cast<int64_t>(committed));
  EXPECT_EQ(p.hyd_cut_bytes, 30 + 36 + 74);
  EXPECT_EQ(p.hyd_cut_records, 3);
  EXPECT_FALSE(p.hyd_torn_tail);
  EXPECT_EQ(p.hd_cut_records, 1);
  EXPECT_EQ(p.hd_keep, static_cast<int64_t>(kHdHeadSize + kMainHeaderSize));
  EXPECT_TRUE(p.hd_head_changed);
  EXPECT_EQ(pos_pix_of(p), c.pos_pix);
  EXPECT_EQ(get_i16(p.hd_head.data() + kHdLastRecordLenOffset), 34);
  EXPECT_EQ(p.last_t1, 601 * kMinute + 7);
}

TEST(RecoverOutputSet, TornRecordAtTheEndIsCutAndNamedTorn) {
  Committed c;
  const size_t committed = c.f.hyd.size();
  c.sb.particle(602 * kMinute, 40);
  c.f.hyd = c.sb.stream().substr(0, committed + 17);
  const RecoveryPlan p = c.f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_EQ(p.hyd_keep, static_cast<int64_t>(committed));
  EXPECT_EQ(p.hyd_cut_bytes, 17);
  EXPECT_EQ(p.hyd_cut_records, 0);
  EXPECT_TRUE(p.hyd_torn_tail);
  EXPECT_FALSE(p.hd_head_changed);
}

TEST(RecoverOutputSet, MainHeaderOnlyOneFileGotIsCutFromIt) {
  {
    // In the header file, not yet in the stream: cut, the run meets it again.
    Committed c;
    StreamBuilder more = c.sb;
    more.header(kLineFr, 3660);
    c.f.hd = hd_bytes(c.pos_pix, c.sb.last_len(), more.hd_records());
    const RecoveryPlan p = c.f.plan();
    ASSERT_FALSE(p.damaged) << p.fault;
    EXPECT_EQ(p.hd_cut_records, 1);
    EXPECT_EQ(p.hyd_cut_bytes, 0);
  }
  {
    // In the stream after the commit, not in the header file (a power cut lost that write).
    Committed c;
    const size_t committed = c.f.hyd.size();
    c.sb.header(kLineFr, 3660);
    c.f.hyd = c.sb.stream();
    const RecoveryPlan p = c.f.plan();
    ASSERT_FALSE(p.damaged) << p.fault;
    EXPECT_EQ(p.hyd_keep, static_cast<int64_t>(committed));
    EXPECT_EQ(p.hyd_cut_records, 1);
    EXPECT_EQ(p.hd_cut_records, 0);
  }
  {
    // In both after the commit: kept, and the last record length follows it.
    Committed c;
    c.sb.header(kLineFr, 3660);
    c.f.hyd = c.sb.stream();
    c.f.hd = hd_bytes(c.pos_pix, 34, c.sb.hd_records());
    const RecoveryPlan p = c.f.plan();
    ASSERT_FALSE(p.damaged) << p.fault;
    EXPECT_EQ(p.hyd_cut_bytes, 0);
    EXPECT_EQ(p.hd_cut_records, 0);
    EXPECT_EQ(get_i16(p.hd_head.data() + kHdLastRecordLenOffset), 74);
    EXPECT_TRUE(p.hd_head_changed);
  }
}

TEST(RecoverOutputSet, ParticlesOnTheSavedLineAfterTheCommitAreKeptAndCounted) {
  Committed c;
  c.sb.particle(601 * kMinute + 7, 30).particle(601 * kMinute + 7.5, 30).particle(601 * kMinute + 8, 30);
  c.f.hyd = c.sb.stream();
  const RecoveryPlan p = c.f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  // Line 601 * kMinute + 7 truncated is the last saved line: both records on it are kept, the next cut.
  EXPECT_EQ(p.hyd_cut_records, 1);
  EXPECT_EQ(p.last_t1, 601 * kMinute + 7.5);
  EXPECT_EQ(p.last_t1_count, 1);
  Committed d;
  d.sb.particle(601 * kMinute + 7, 30);
  d.f.hyd = d.sb.stream();
  const RecoveryPlan q = d.f.plan();
  EXPECT_EQ(q.hyd_cut_records, 0);
  EXPECT_EQ(q.last_t1_count, 2);
}

TEST(RecoverOutputSet, NewSetThatNeverSavedIsStartedAgain) {
  Files f;
  f.hyd = "";
  f.hd = std::string(100, '\xff');  // its head was being written
  f.abh_exists = false;
  RecoveryPlan p = f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_TRUE(p.new_hd);
  EXPECT_TRUE(p.new_abh);
  EXPECT_EQ(pos_pix_of(p), new_pos_pix());
  EXPECT_FALSE(p.any_particle);

  // Only main headers written, the index file created but empty: the headers are kept.
  StreamBuilder sb;
  sb.header(kLineFr, 3600);
  f.hyd = sb.stream();
  f.hd = hd_bytes(new_pos_pix(), 0, sb.hd_records());
  f.abh_exists = true;
  f.abh = "";
  p = f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_TRUE(p.new_abh);
  EXPECT_FALSE(p.new_hd);
  EXPECT_EQ(p.hyd_cut_bytes, 0);
  EXPECT_EQ(get_i16(p.hd_head.data() + kHdLastRecordLenOffset), 74);
}

TEST(RecoverOutputSet, SetsThatCannotBeBroughtBackAreRefusedNamingTheFile) {
  struct Case {
    const char* name;
    void (*spoil)(Committed&);
    const char* fault_start;
  };
  const Case cases[] = {
      {"hd missing", [](Committed& c) { c.f.hd_exists = false, c.f.hd = ""; }, ".hd: missing"},
      {"hd cut", [](Committed& c) { c.f.hd.resize(kHdHeadSize - 1); }, ".hd: shorter"},
      {"abh missing", [](Committed& c) { c.f.abh_exists = false, c.f.abh = ""; }, ".abh: missing"},
      {"abh beyond the raw file", [](Committed& c) { c.f.raw_size = 1000; }, ".abh: posa_bf[691]=1010"},
      {"lastpix_y of no record",
       [](Committed& c) { c.f.abh = abh_bytes(raw_index(100), raw_index(104), 12345); },
       ".abh: lastpix_y 12345"},
      {"stream damaged before the saved record",
       [](Committed& c) { c.f.hyd[static_cast<size_t>(c.sb.offsets()[1]) + 2] ^= 0x10; }, ".abh: lastpix_y"},
      {"main header differs before the save", [](Committed& c) { c.f.hd[kHdHeadSize + 20] ^= 1; },
       ".hd: main header record 0"},
      {"abh longer than a save leaves it", [](Committed& c) { c.f.abh += std::string(4, '\0'); },
       ".abh: 11548 bytes"},
      {"t1 falls before the save",
       [](Committed& c) {
         put_f64(reinterpret_cast<uint8_t*>(c.f.hyd.data()) + c.sb.offsets()[1] + 4, 600 * kMinute + 1);
       },
       ".hyd: the particle record at"},
      {"posb_bf falls", [](Committed& c) { c.f.abh[kAbhMinutePosBOffset + 4 * 700] = 0x7f; },
       ".abh: posb_bf[701]"},
  };
  for (const Case& k : cases) {
    Committed c;
    k.spoil(c);
    const RecoveryPlan p = c.f.plan();
    EXPECT_TRUE(p.damaged) << k.name;
    EXPECT_EQ(p.fault.rfind(k.fault_start, 0), 0u) << k.name << ": " << p.fault;
  }
  // A pos_pix entry on no record is written anew as the run writes it.
  Committed c;
  std::vector<int32_t> wrong = c.pos_pix;
  wrong[601] = c.sb.offsets()[2] + 2;
  c.f.hd = hd_bytes(wrong, c.sb.last_len(), c.sb.hd_records());
  const RecoveryPlan p = c.f.plan();
  ASSERT_FALSE(p.damaged) << p.fault;
  EXPECT_TRUE(p.hd_head_changed);
  EXPECT_EQ(pos_pix_of(p), c.pos_pix);
}

}  // namespace
}  // namespace quorda
