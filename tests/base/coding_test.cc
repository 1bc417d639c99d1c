// Little-endian coding and the main header record layout.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "format/main_header.h"

namespace quorda {
namespace {

TEST(Coding, EncodesLittleEndian) {
  uint8_t b[8];
  put_u16(b, 0x1234);
  EXPECT_EQ(b[0], 0x34);
  EXPECT_EQ(b[1], 0x12);
  put_i16(b, -74);
  EXPECT_EQ(get_u16(b), 0xFFB6);
  put_u32(b, 0x01020304u);
  EXPECT_EQ(b[0], 4);
  EXPECT_EQ(b[3], 1);
  put_f64(b, 500.0);
  EXPECT_EQ(get_f64(b), 500.0);
  put_f32(b, 0.153f);
  EXPECT_EQ(get_f32(b), 0.153f);
  put_i32(b, -2);
  EXPECT_EQ(get_u32(b), 0xFFFFFFFEu);
  EXPECT_EQ(get_i32(b), -2);
}

TEST(MainHeaderRecord, RoundTripsEveryFieldAtItsOffset) {
  MainHeader h;
  h.len_prev = 56;
  std::strcpy(h.pix_file, "V10082_1.hyd");
  h.main_time = 1269216000u;
  h.line_fr = 55000.0;
  h.hbl = 6.2f;
  h.hbr = 6.3f;
  h.hfr = 6.4f;
  h.centre_pix = 316;
  h.gate1 = 7;
  h.gate2 = 9;
  h.xscale0_1 = 0.153f;
  h.xscale0_2 = 0.168f;
  h.l0_1 = 250;
  h.l0_2 = 251;
  h.hd_w4 = 4;
  h.ratio_pct = 166;
  uint8_t b[kMainHeaderSize];
  encode_main_header(h, b);
  EXPECT_EQ(get_i16(b + 0), -74);
  EXPECT_EQ(get_i16(b + 2), 56);
  EXPECT_STREQ(reinterpret_cast<const char*>(b + 4), "V10082_1.hyd");
  EXPECT_EQ(get_u32(b + 18), 1269216000u);
  EXPECT_EQ(get_f64(b + 22), 55000.0);
  EXPECT_EQ(get_i16(b + 42), 316);
  EXPECT_EQ(get_f32(b + 48), 0.153f);
  EXPECT_EQ(get_f32(b + 60), 251.0f);
  EXPECT_EQ(get_i16(b + 66), -7001);
  EXPECT_EQ(get_i16(b + 68), 2);
  EXPECT_EQ(get_i16(b + 70), 0);
  EXPECT_EQ(get_i16(b + 72), 166);
  uint8_t again[kMainHeaderSize];
  encode_main_header(decode_main_header(b), again);
  EXPECT_EQ(std::memcmp(b, again, kMainHeaderSize), 0);
}

TEST(RawMainHeader, RoundTripsTheUsedFields) {
  RawMainHeader h;
  h.hd_w4 = 3;
  h.line_fr = 20000.0;
  h.centre_pix = 256;
  h.l0_1 = 250;
  h.l0_2 = 260;
  h.ratio_den = 3;
  h.ratio_num = 5;
  h.valid_since = 86400u * 3 + 17;
  uint8_t b[kRawMainHeaderSize];
  encode_raw_main_header(h, b);
  EXPECT_EQ(get_f64(b + 6), 20000.0);
  EXPECT_EQ(get_u32(b + 52), 86400u * 3 + 17);
  RawMainHeader d = decode_raw_main_header(b);
  EXPECT_EQ(d.centre_pix, 256);
  EXPECT_EQ(d.l0_2, 260.0f);
  EXPECT_EQ(d.ratio_num, 5);
  EXPECT_EQ(d.ratio_den, 3);
}

}  // namespace
}  // namespace quorda
