// take_main_header and insert_header: taking raw main headers once, the 74-byte record in both files, the
// header list and the ends of a run.
#include "rawin/take_main_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/main_header.h"
#include "format/output_set_heads.h"
#include "support/full_files.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::TestRun;

constexpr uint32_t kDay = 1262304000u;  // midnight of a day, in calendar seconds

RawMainHeader raw_header(uint32_t second_of_day) {
  RawMainHeader h;
  h.hd_w4 = 12;
  h.line_fr = 500.0;
  h.centre_pix = 256;
  h.gate1 = 3;
  h.gate2 = 4;
  h.hbl = 1.0f;  // stored geometry that the settings replace
  h.hbr = 1.0f;
  h.hfr = 1.0f;
  h.xscale0_1 = 9.0f;
  h.xscale0_2 = 9.0f;
  h.l0_1 = 240.0f;
  h.l0_2 = 260.0f;
  h.ratio_den = 3;
  h.ratio_num = 5;
  h.valid_since = kDay + second_of_day;
  return h;
}

std::vector<uint8_t> payload_of(const RawMainHeader& h, size_t size = 60) {
  std::vector<uint8_t> p(std::max(size, kRawMainHeaderSize), 0xEE);
  encode_raw_main_header(h, p.data());
  p.resize(size);
  return p;
}

// A run with a fresh header file (5770-byte head) and an empty hydrometeor file, both open.
class TakeMainHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    RunContext& ctx = *run.ctx;
    ctx.settings.hbl = 6.0f;
    ctx.settings.hbr = 6.2f;
    ctx.settings.hfr = 6.4f;
    ctx.settings.xscal_a = 0.15f;
    ctx.settings.xscal_b = 0.16f;
    ctx.settings.dist_a = 250.0f;
    ctx.settings.dist_b = 251.0f;
    ctx.out.hd_name = run.dir.file("V10082_1.hd");
    ctx.out.hyd_name = run.dir.file("V10082_1.hyd");
    std::vector<uint8_t> head(kHdHeadSize, 0xFF);
    put_i32(head.data(), 0);
    put_i16(head.data() + kHdLastRecordLenOffset, 0);
    testing::write_file(ctx.out.hd_name, head);
    testing::write_file(ctx.out.hyd_name, std::string());
    ASSERT_TRUE(ctx.out.hd_stream.open(*ctx.files, ctx.out.hd_name, false));
    ASSERT_TRUE(ctx.out.hyd_stream.open(*ctx.files, ctx.out.hyd_name, false));
  }

  void offer(const RawMainHeader& h, size_t size = 60) {
    std::vector<uint8_t> p = payload_of(h, size);
    take_main_header(run.ctx->rawin_part(), p.data(), static_cast<int32_t>(size));
  }
  std::string hd_file() { return read_file(run.ctx->out.hd_name); }
  std::string pix_file() { return read_file(run.ctx->out.hyd_name); }
  std::string hd_records() { return hd_file().substr(kHdHeadSize); }
  MainHeader pix_record(size_t i) {
    std::string f = pix_file();
    return decode_main_header(reinterpret_cast<const uint8_t*>(f.data()) + i * kMainHeaderSize);
  }

  TestRun run;
};

TEST_F(TakeMainHeader, RecordMatchesOneBuiltByHandInBothFiles) {
  offer(raw_header(3600));
  uint8_t want[kMainHeaderSize] = {};
  put_i16(want + 0, -74);
  put_i16(want + 2, 0);
  std::memcpy(want + 4, "V10082_1.hyd", 12);
  put_u32(want + 18, kDay + 3600);
  put_f64(want + 22, 500.0);
  put_f32(want + 30, 6.0f);
  put_f32(want + 34, 6.2f);
  put_f32(want + 38, 6.4f);
  put_i16(want + 42, 256);
  put_i16(want + 44, 3);
  put_i16(want + 46, 4);
  put_f32(want + 48, 0.153f);
  put_f32(want + 52, 0.168f);
  put_f32(want + 56, 240.0f);
  put_f32(want + 60, 260.0f);
  put_i16(want + 64, 12);
  put_i16(want + 66, -7001);
  put_i16(want + 68, 2);
  put_i16(want + 70, 0);
  put_i16(want + 72, 166);
  const std::string record(reinterpret_cast<const char*>(want), kMainHeaderSize);
  EXPECT_EQ(hd_records(), record);
  EXPECT_EQ(pix_file(), record);
  EXPECT_EQ(run.err(), "");

  RunContext& ctx = *run.ctx;
  EXPECT_EQ(ctx.framing.last_record_len, 74);
  EXPECT_TRUE(ctx.framing.commit_due);
  EXPECT_EQ(ctx.out.hyd_end, 74);
  EXPECT_EQ(ctx.hdr.line_fr, 500.0);
  ASSERT_NE(ctx.hdr.head, nullptr);
  EXPECT_EQ(ctx.hdr.head, ctx.hdr.tail);
  EXPECT_EQ(ctx.hdr.head->line, 3600 * 500.0);
  EXPECT_EQ(ctx.hdr.main_count, 1);
}

TEST_F(TakeMainHeader, HeadOfTheHeaderFileIsLeftToTheNextCommit) {
  const std::string before = hd_file();
  offer(raw_header(3600));
  const std::string f = hd_file();
  ASSERT_EQ(f.size(), kHdHeadSize + kMainHeaderSize);
  EXPECT_EQ(f.substr(0, kHdHeadSize), before);
  EXPECT_EQ(run.ctx->framing.file_last_record_len, 74);
}

TEST_F(TakeMainHeader, HeaderOfferedTwiceIsTakenOnce) {
  offer(raw_header(3600));
  run.ctx->framing.commit_due = false;
  run.ctx->framing.last_record_len = 56;
  RawMainHeader again = raw_header(3600);
  again.line_fr = 400.0;
  offer(again);
  EXPECT_EQ(hd_file().size(), kHdHeadSize + kMainHeaderSize);
  EXPECT_EQ(pix_file().size(), kMainHeaderSize);
  EXPECT_EQ(run.ctx->hdr.main_count, 1);
  EXPECT_EQ(run.ctx->framing.last_record_len, 56);
  EXPECT_FALSE(run.ctx->framing.commit_due);
  // The repeated header's line frequency is not taken: the file's last main header record says
  // 500 lines a second, and the minutes of the particles behind it are formed with that.
  EXPECT_EQ(run.ctx->hdr.line_fr, 500.0);
}

TEST_F(TakeMainHeader, LaterHeaderIsAppendedBehindTheRecordWrittenBeforeIt) {
  offer(raw_header(3600));
  // The writer adds a 56-byte particle record.
  const std::string particle(56, 'p');
  ASSERT_TRUE(run.ctx->out.hyd_stream.write_at(74, particle.data(), particle.size()));
  run.ctx->out.hyd_end += 56;
  run.ctx->framing.last_record_len = 56;
  offer(raw_header(7200));

  EXPECT_EQ(run.ctx->out.hyd_end, 74 + 56 + 74);
  EXPECT_EQ(run.ctx->framing.file_last_record_len, 74);
  EXPECT_TRUE(run.ctx->framing.hyd_unsynced);
  std::string f = pix_file();
  MainHeader second = decode_main_header(reinterpret_cast<const uint8_t*>(f.data()) + 74 + 56);
  EXPECT_EQ(second.len_prev, 56);
  EXPECT_EQ(second.main_time, kDay + 7200);
  EXPECT_EQ(hd_records().size(), 2 * kMainHeaderSize);
  EXPECT_EQ(hd_records().substr(kMainHeaderSize), f.substr(74 + 56));
  ASSERT_NE(run.ctx->hdr.tail, run.ctx->hdr.head);
  EXPECT_EQ(run.ctx->hdr.tail->rec.main_time, kDay + 7200);
  EXPECT_EQ(run.ctx->hdr.head->next, run.ctx->hdr.tail);
  EXPECT_EQ(run.ctx->hdr.tail->prev, run.ctx->hdr.head);
}

TEST_F(TakeMainHeader, NextDaySameSecondIsANegativeTimeJump) {
  offer(raw_header(3600));
  RawMainHeader next_day = raw_header(3600 + 86400);
  EXPECT_EQ(run.ends_with([&] { offer(next_day); }), kExitFatal);
  EXPECT_EQ(run.err(),
            " indic    = -74 -74 \n"
            " len_prev = 0 74 \n"
            " L0_1     = 240.000000 240.000000 \n"
            " L0_2     = 260.000000 260.000000 \n"
            " main_time= 1262307600 1262394000 \n"
            " gate1    = 3 3 \n"
            " gate2    = 4 4 \n"
            " line_fr  = 500.000000 500.000000 \n"
            " XSCALE0_1= 0.153000 0.153000 \n"
            " XSCALE0_2= 0.168000 0.168000 \n"
            " HBL      = 6.000000 6.000000 \n"
            " HBR      = 6.200000 6.200000 \n"
            " HFR      = 6.400000 6.400000 \n"
            "\n\n neg. time jump ?!?!?! \n"
            "please rename or delete current set of data files");
}

TEST_F(TakeMainHeader, OverwriteOneTakesScalesAndDistancesFromTheSettings) {
  run.ctx->settings.overwrite = 1;
  offer(raw_header(100));
  MainHeader r = pix_record(0);
  EXPECT_EQ(r.xscale0_1, 0.15f);
  EXPECT_EQ(r.xscale0_2, 0.16f);
  EXPECT_EQ(r.l0_1, 250.0f);
  EXPECT_EQ(r.l0_2, 251.0f);
  for (int32_t other : {0, 2}) {
    run.ctx->settings.overwrite = other;
    offer(raw_header(static_cast<uint32_t>(200 + other)));
    MainHeader o = pix_record(run.ctx->hdr.main_count - 1);
    EXPECT_EQ(o.xscale0_1, 0.153f) << other;
    EXPECT_EQ(o.xscale0_2, 0.168f) << other;
    EXPECT_EQ(o.l0_1, 240.0f) << other;
    EXPECT_EQ(o.l0_2, 260.0f) << other;
  }
}

TEST_F(TakeMainHeader, RatioIsTruncatedPercentAndZeroWithoutDenominator) {
  struct Case {
    int16_t num, den, pct;
  };
  const Case cases[] = {
      {5, 3, 166}, {5, 0, 0}, {-5, 3, -166}, {1000, 1, static_cast<int16_t>(100000 - 131072)}};
  uint32_t second = 10;
  for (const Case& c : cases) {
    RawMainHeader h = raw_header(second++);
    h.ratio_num = c.num;
    h.ratio_den = c.den;
    offer(h);
    EXPECT_EQ(pix_record(run.ctx->hdr.main_count - 1).ratio_pct, c.pct) << c.num << "/" << c.den;
  }
}

TEST_F(TakeMainHeader, LongHydrometeorFileNameIsCutToThirteenCharacters) {
  run.ctx->out.hyd_name = run.dir.file("ABCDEFGHIJKL.hyd");
  offer(raw_header(100));
  MainHeader r = decode_main_header(reinterpret_cast<const uint8_t*>(hd_records().data()));
  EXPECT_EQ(std::string(r.pix_file), "ABCDEFGHIJKL.");
  EXPECT_EQ(r.pix_file[13], '\0');
}

TEST_F(TakeMainHeader, ShortPayloadIsReportedAndSkipped) {
  run.ctx->hdr.line_fr = 123.0;
  errno = EACCES;  // left over from an earlier call: not the reason for this line
  offer(raw_header(100), kRawMainHeaderSize - 1);
  EXPECT_EQ(run.err(), std::string(" main_hr01 : ") + std::strerror(ENODATA) + "\n");
  EXPECT_EQ(run.ctx->hdr.line_fr, 123.0);
  EXPECT_EQ(run.ctx->hdr.main_count, 0);
  EXPECT_EQ(run.ctx->hdr.head, nullptr);
  EXPECT_EQ(hd_file().size(), kHdHeadSize);
  EXPECT_EQ(pix_file(), "");
  EXPECT_FALSE(run.ctx->framing.commit_due);
  // Exactly 56 bytes are enough.
  offer(raw_header(100), kRawMainHeaderSize);
  EXPECT_EQ(run.ctx->hdr.main_count, 1);
}

TEST_F(TakeMainHeader, HundredthDistinctMainTimeEndsTheRun) {
  for (uint32_t i = 0; i < 99; ++i) offer(raw_header(60 * i));
  EXPECT_EQ(run.ctx->hdr.main_count, 99);
  EXPECT_EQ(run.out(), "");
  EXPECT_EQ(run.ends_with([&] { offer(raw_header(60 * 99)); }), kExitFatal);
  EXPECT_EQ(run.out(), " more than 100 mainheaders ! \n");
  EXPECT_EQ(pix_file().size(), 99 * kMainHeaderSize);
}

TEST_F(TakeMainHeader, FailedWriteToTheHeaderFileEndsTheRunBeforeTheStreamGetsTheRecord) {
  testing::FullFiles full;
  ASSERT_TRUE(run.ctx->out.hd_stream.open(full, "full", false));
  EXPECT_EQ(run.ends_with([&] { offer(raw_header(100)); }), kExitFatal);
  EXPECT_EQ(run.err(), std::string(" main_hr03 : ") + std::strerror(ENOSPC) + "\n");
  EXPECT_EQ(pix_file().size(), 0u);
}

TEST_F(TakeMainHeader, FailedWriteToTheHydrometeorFileEndsTheRun) {
  testing::FullFiles full;
  ASSERT_TRUE(run.ctx->out.hyd_stream.open(full, "full", false));
  EXPECT_EQ(run.ends_with([&] { offer(raw_header(100)); }), kExitFatal);
  EXPECT_EQ(run.err(), std::string(" main_hr06 : ") + std::strerror(ENOSPC) + "\n");
  // The header file got its record before: the next run cuts it and meets the header again.
  EXPECT_EQ(hd_records().size(), kMainHeaderSize);
}

// insert_header on its own, as the resume reads records back from a header file.
MainHeader record_at(uint32_t second, double line_fr = 500.0) {
  MainHeader r;
  r.main_time = kDay + second;
  r.line_fr = line_fr;
  return r;
}

TEST(InsertHeader, KeepsAscendingOrderAndIgnoresAListedRecord) {
  TestRun run;
  RunContext& ctx = *run.ctx;
  insert_header(ctx.rawin_part(), record_at(100));
  insert_header(ctx.rawin_part(), record_at(200));
  HeaderNode* first = ctx.hdr.head;
  insert_header(ctx.rawin_part(), record_at(100));  // the same bytes: already listed
  insert_header(ctx.rawin_part(), record_at(200));
  EXPECT_EQ(ctx.hdr.n_nodes, 2);
  EXPECT_EQ(ctx.hdr.head, first);
  EXPECT_EQ(ctx.hdr.head->line, 100 * 500.0);
  EXPECT_EQ(ctx.hdr.tail->line, 200 * 500.0);
  // Time of day uses the record's own line frequency.
  insert_header(ctx.rawin_part(), record_at(150, 1000.0));
  EXPECT_EQ(ctx.hdr.tail->line, 150 * 1000.0);
  EXPECT_EQ(ctx.hdr.tail->prev->rec.main_time, kDay + 200);
  EXPECT_EQ(run.err(), "");
}

TEST(InsertHeader, DifferentRecordAtOrBeforeAListedTimeEndsTheRun) {
  TestRun run;
  insert_header(run.ctx->rawin_part(), record_at(100));
  insert_header(run.ctx->rawin_part(), record_at(200));
  MainHeader changed = record_at(200);
  changed.gate1 = 1;
  EXPECT_EQ(run.ends_with([&] { insert_header(run.ctx->rawin_part(), changed); }), kExitFatal);
  EXPECT_NE(run.err().find(" gate1    = 0 1 \n"), std::string::npos);
  run.clear_streams();
  // Between two listed headers: compared with the later one, which differs.
  EXPECT_EQ(run.ends_with([&] { insert_header(run.ctx->rawin_part(), record_at(150)); }), kExitFatal);
  EXPECT_NE(run.err().find(" main_time= 1262304200 1262304150 \n"), std::string::npos) << run.err();
}

TEST(InsertHeader, FullNodeTableEndsTheRun) {
  TestRun run;
  for (uint32_t i = 0; i < kMaxMainHeaders; ++i) insert_header(run.ctx->rawin_part(), record_at(i));
  EXPECT_EQ(run.ends_with([&] { insert_header(run.ctx->rawin_part(), record_at(kMaxMainHeaders)); }),
            kExitFatal);
  EXPECT_EQ(run.err(), " malloc failed in main_tim\n");
  // Node addresses stayed where they were.
  EXPECT_EQ(run.ctx->hdr.head, &run.ctx->hdr.nodes[0]);
}

}  // namespace
}  // namespace quorda
