// The output file set: creation with the initial heads, read-back of an earlier run's state and
// the resume point of both cursors.
#include "rawin/output_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/output_set_heads.h"
#include "outset/check_output_set.h"
#include "support/output_fixture.h"
#include "support/stream_builder.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::TestRun;
using testing::write_file;

constexpr double kLineFr = 100.0;
constexpr double kMinute = kLineFr * 60;

using testing::le32_bytes;
using testing::table_bytes;

// An output set in a scratch folder, with writers for the files of an earlier run.
struct SetDir {
  SetDir() { testing::name_output_set(ctx, t.dir.path()); }
  std::string abh() const { return t.dir.file("raw/V10082_1.abh"); }
  std::string hyd() const { return t.dir.file("hyd/V10082_1.hyd"); }
  std::string hd() const { return t.dir.file("hyd/V10082_1.hd"); }

  // An index file with the given minute indexes and last saved line; `high` adds the saved high word.
  void write_abh(const std::vector<int32_t>& posa, const std::vector<int32_t>& posb, uint32_t low,
                 const uint32_t* high = nullptr) {
    std::string s = table_bytes(posa) + table_bytes(posb) + le32_bytes(static_cast<int32_t>(low));
    if (high != nullptr) s += le32_bytes(static_cast<int32_t>(*high));
    write_file(abh(), s);
  }
  void write_hd(const std::vector<int32_t>& pos_pix, int16_t last_record_len, const std::string& records) {
    uint8_t ol[2];
    put_i16(ol, last_record_len);
    write_file(hd(), table_bytes(pos_pix) + std::string(reinterpret_cast<char*>(ol), 2) + records);
  }

  TestRun t;
  RunContext& ctx = *t.ctx;
};

struct OpenOutputSet : ::testing::Test, SetDir {};

// The header file's pos_pix a run writes for the stream.
std::vector<int32_t> run_pos_pix(const testing::StreamBuilder& sb) {
  const std::string s = sb.stream();
  return expected_pos_pix(walk_hyd(testing::bytes_of(s)));
}

TEST_F(OpenOutputSet, FirstRunCreatesTheThreeFilesWithTheirInitialHeads) {
  ctx.raw.raw_file_path = t.dir.path() + "elsewhere/V10082_1.ab";  // only the base name counts
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(ctx.out.abh_name, abh());
  EXPECT_EQ(ctx.out.hyd_name, hyd());
  EXPECT_EQ(ctx.out.hd_name, hd());
  EXPECT_EQ(ctx.out.hyd_day, 10082);
  EXPECT_EQ(ctx.drv.pos_a, 0);
  EXPECT_EQ(ctx.drv.pos_b, 0);
  EXPECT_EQ(ctx.out.hyd_end, 0);
  EXPECT_TRUE(ctx.out.hyd_stream.is_open() && ctx.out.hd_stream.is_open() && ctx.out.abh_stream.is_open());

  std::vector<int32_t> pos_pix(kMinutes, -1);
  pos_pix[0] = 0;
  EXPECT_EQ(read_file(hd()), table_bytes(pos_pix) + std::string(2, '\0'));
  EXPECT_EQ(read_file(abh()), std::string(11540, '\0'));
  EXPECT_EQ(read_file(hyd()), "");
  EXPECT_EQ(t.err(), "");
}

TEST_F(OpenOutputSet, ResumeWalkStopsAtTheBlockOfTheLastParticleAndTakesTheMinuteBefore) {
  std::vector<int32_t> posa(kMinutes, 0), posb(kMinutes, 0);
  for (int m = 0; m < kMinutes; ++m) {
    posa[m] = 1000 * m;
    posb[m] = 1000 * m + 4;
  }
  posa[598] = posa[599] = posa[600] = 598000;  // minutes 598 to 600 began in one A block
  write_abh(posa, posb, static_cast<uint32_t>(600 * kMinute + 30));
  testing::StreamBuilder sb;
  sb.header(kLineFr, 3600).particle(600 * kMinute + 30);
  write_hd(run_pos_pix(sb), sb.last_len(), sb.hd_records());
  write_file(hyd(), sb.stream());
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(ctx.drv.pos_a, 597000);
  EXPECT_EQ(ctx.drv.pos_b, 599004);
  EXPECT_EQ(ctx.hdr.line_fr, kLineFr);  // taken from the header file's last record
  EXPECT_EQ(ctx.framing.last_saved_line, static_cast<uint64_t>(600 * kMinute + 30));
  EXPECT_TRUE(ctx.framing.resume_drop);
  EXPECT_EQ(ctx.framing.resume_t1, 600 * kMinute + 30);
  EXPECT_EQ(ctx.framing.resume_ties, 1);
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(ctx.minutes.minute_pos_a[600], 598000);
  EXPECT_EQ(ctx.minutes.minute_pos_b[1441], 1441004);
}

TEST_F(OpenOutputSet, LastParticleInMinuteZeroOrOneRestartsAtEntryZero) {
  std::vector<int32_t> posa(kMinutes, 0), posb(kMinutes, 0);
  for (int m = 0; m < kMinutes; ++m) posa[m] = posb[m] = 10 + m;
  for (double y : {30.0, kMinute + 30}) {
    SetDir f;
    f.write_abh(posa, posb, static_cast<uint32_t>(y));
    testing::StreamBuilder sb;
    sb.header(kLineFr, 3600).particle(y);
    f.write_hd(run_pos_pix(sb), sb.last_len(), sb.hd_records());
    write_file(f.hyd(), sb.stream());
    open_output_set(f.ctx.rawin_part());
    EXPECT_EQ(f.ctx.drv.pos_a, 10) << y;
    EXPECT_EQ(f.ctx.drv.pos_b, 10) << y;
  }
}

TEST_F(OpenOutputSet, IndexFileWithoutHeaderFileOrStreamStartsAtEntryZero) {
  // An index file of the created size with nothing saved: the earlier run stopped before its
  // first save; the header file is created.
  std::vector<int32_t> posa(kMinutes, 0);
  for (int m = 0; m < kMinutes; ++m) posa[m] = 500 + m;
  write_file(abh(), table_bytes(posa) + table_bytes(posa) + le32_bytes(0));
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(ctx.hdr.line_fr, 0.0);
  EXPECT_EQ(ctx.drv.pos_a, 500);
  EXPECT_EQ(ctx.drv.pos_b, 500);
  EXPECT_FALSE(ctx.framing.resume_drop);
  EXPECT_EQ(read_file(hd()).size(), kHdHeadSize);  // created
  EXPECT_EQ(t.err(), "");
}

TEST_F(OpenOutputSet, LastSavedLineHighWordIsReadWhenTheFileHoldsIt) {
  std::vector<int32_t> zero(kMinutes, 0);
  const uint32_t high = 1;
  write_abh(zero, zero, 0x10u, &high);
  testing::StreamBuilder sb;
  sb.header(kLineFr, 3600).particle(4294967312.5);
  write_hd(run_pos_pix(sb), sb.last_len(), sb.hd_records());
  write_file(hyd(), sb.stream());
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(ctx.framing.last_saved_line, (uint64_t{1} << 32) + 0x10u);
  EXPECT_EQ(ctx.framing.resume_t1, 4294967312.5);
  EXPECT_EQ(t.err(), "");
}

TEST_F(OpenOutputSet, IndexFileWrittenTheOldWayReadsBackWithoutHighWord) {
  std::vector<int32_t> zero(kMinutes, 0);
  write_abh(zero, zero, 0xFFFFFFF0u);
  testing::StreamBuilder sb;
  sb.header(kLineFr, 3600).particle(0xFFFFFFF0u);
  write_hd(run_pos_pix(sb), sb.last_len(), sb.hd_records());
  write_file(hyd(), sb.stream());
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(ctx.framing.last_saved_line, 0xFFFFFFF0u);
  EXPECT_EQ(t.err(), "");
}

TEST_F(OpenOutputSet, HeaderFileRestoresPosPixLastRecordLengthAndTheHeaderList) {
  testing::StreamBuilder sb;
  sb.header(kLineFr, 3600).header(2 * kLineFr, 7200);
  sb.particle(7 * 2 * kMinute + 5, 30).particle(1441 * 2 * kMinute + 5, 56);
  write_hd(run_pos_pix(sb), 56, sb.hd_records());
  write_file(hyd(), sb.stream());
  std::vector<int32_t> zero(kMinutes, 0);
  write_abh(zero, zero, static_cast<uint32_t>(1441 * 2 * kMinute + 5));
  open_output_set(ctx.rawin_part());
  EXPECT_EQ(t.err(), "");
  EXPECT_EQ(ctx.framing.last_record_len, 56);
  EXPECT_EQ(ctx.framing.pix_minute, 1440);  // the last entry is not examined
  EXPECT_EQ(ctx.framing.pos_pix[7], sb.offsets()[0]);
  EXPECT_EQ(ctx.framing.pos_pix[8], sb.offsets()[1]);
  EXPECT_EQ(ctx.out.hyd_end, static_cast<int32_t>(sb.stream().size()));
  EXPECT_EQ(ctx.hdr.main_count, 2);
  EXPECT_EQ(ctx.hdr.main_times[0], 3600u);
  EXPECT_EQ(ctx.hdr.main_times[1], 7200u);
  ASSERT_NE(ctx.hdr.head, nullptr);
  EXPECT_EQ(ctx.hdr.head->next, ctx.hdr.tail);
  EXPECT_EQ(ctx.hdr.line_fr, 2 * kLineFr);  // the last record read back
}

TEST_F(OpenOutputSet, HeaderFileWithAHundredRecordsEndsTheRun) {
  testing::StreamBuilder sb;
  for (uint32_t i = 0; i < 100; ++i) sb.header(kLineFr, 60 + i);
  write_hd(run_pos_pix(sb), sb.last_len(), sb.hd_records());
  write_file(hyd(), sb.stream());
  EXPECT_EQ(t.ends_with([&] { open_output_set(ctx.rawin_part()); }), kExitFatal);
  EXPECT_EQ(t.err(), " more than 100 mainheaders ! \n");
  EXPECT_EQ(ctx.hdr.main_count, 100);
}

TEST_F(OpenOutputSet, AFilledHeaderListBeforeTheReadBackEndsTheRun) {
  write_hd(testing::new_pos_pix(), 0, "");
  MainHeader h;
  h.line_fr = kLineFr;
  insert_header(ctx.rawin_part(), h);
  EXPECT_EQ(t.ends_with([&] { open_output_set(ctx.rawin_part()); }), kExitFatal);
  EXPECT_EQ(t.err(), " pixfil: header list ... where from ??? \n");
}

// A failed opening leaves no stream to write to: the tag is reported and the run ends.
TEST_F(OpenOutputSet, FailedOpeningsReportTheirTagAndEndTheRun) {
  struct Case {
    const char* tag;
    std::function<void(SetDir&)> spoil;
  };
  const std::vector<Case> cases = {
      {" pixfil01 ", [](SetDir& f) { f.ctx.settings.hyd_path = f.t.dir.path() + "missing/"; }},
      {" pixfil09 ", [](SetDir& f) { f.ctx.settings.raw_path = f.t.dir.path() + "missing/"; }},
      {" pixfil04 ", [](SetDir& f) { std::filesystem::create_directory(f.abh()); }},
      {" pixfil14 ", [](SetDir& f) { std::filesystem::create_directory(f.hd()); }},
  };
  for (const Case& c : cases) {
    SetDir f;
    c.spoil(f);
    EXPECT_EQ(f.t.ends_with([&] { open_output_set(f.ctx.rawin_part()); }), kExitFatal) << c.tag;
    const std::string err = f.t.err();
    EXPECT_EQ(err.rfind(std::string(c.tag) + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

}  // namespace
}  // namespace quorda
