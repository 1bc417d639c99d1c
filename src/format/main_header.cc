// Byte coding of the raw main header payload and of the 74-byte main header record.
#include "format/main_header.h"

#include <cstring>

#include "base/bytes.h"

namespace quorda {

RawMainHeader decode_raw_main_header(const uint8_t* p) {
  RawMainHeader h;
  h.hd_w4 = get_i16(p + raw_mh::kHdW4);
  h.line_fr = get_f64(p + raw_mh::kLineFr);
  h.centre_pix = get_i16(p + raw_mh::kCentrePix);
  h.gate1 = get_i16(p + raw_mh::kGate1);
  h.gate2 = get_i16(p + raw_mh::kGate2);
  h.hbl = get_f32(p + raw_mh::kHbl);
  h.hbr = get_f32(p + raw_mh::kHbr);
  h.hfr = get_f32(p + raw_mh::kHfr);
  h.xscale0_1 = get_f32(p + raw_mh::kXscale01);
  h.xscale0_2 = get_f32(p + raw_mh::kXscale02);
  h.l0_1 = get_f32(p + raw_mh::kL01);
  h.l0_2 = get_f32(p + raw_mh::kL02);
  h.ratio_den = get_i16(p + raw_mh::kRatioDen);
  h.ratio_num = get_i16(p + raw_mh::kRatioNum);
  h.valid_since = get_u32(p + raw_mh::kValidSince);
  return h;
}

void encode_raw_main_header(const RawMainHeader& h, uint8_t* p) {
  std::memset(p, 0, kRawMainHeaderSize);
  put_i16(p + raw_mh::kHdW4, h.hd_w4);
  put_f64(p + raw_mh::kLineFr, h.line_fr);
  put_i16(p + raw_mh::kCentrePix, h.centre_pix);
  put_i16(p + raw_mh::kGate1, h.gate1);
  put_i16(p + raw_mh::kGate2, h.gate2);
  put_f32(p + raw_mh::kHbl, h.hbl);
  put_f32(p + raw_mh::kHbr, h.hbr);
  put_f32(p + raw_mh::kHfr, h.hfr);
  put_f32(p + raw_mh::kXscale01, h.xscale0_1);
  put_f32(p + raw_mh::kXscale02, h.xscale0_2);
  put_f32(p + raw_mh::kL01, h.l0_1);
  put_f32(p + raw_mh::kL02, h.l0_2);
  put_i16(p + raw_mh::kRatioDen, h.ratio_den);
  put_i16(p + raw_mh::kRatioNum, h.ratio_num);
  put_u32(p + raw_mh::kValidSince, h.valid_since);
}

void encode_main_header(const MainHeader& h, uint8_t* p) {
  put_i16(p + mh::kIndic, h.indic);
  put_i16(p + mh::kLenPrev, h.len_prev);
  std::memcpy(p + mh::kPixFile, h.pix_file, mh::kPixFileSize);
  put_u32(p + mh::kMainTime, h.main_time);
  put_f64(p + mh::kLineFr, h.line_fr);
  put_f32(p + mh::kHbl, h.hbl);
  put_f32(p + mh::kHbr, h.hbr);
  put_f32(p + mh::kHfr, h.hfr);
  put_i16(p + mh::kCentrePix, h.centre_pix);
  put_i16(p + mh::kGate1, h.gate1);
  put_i16(p + mh::kGate2, h.gate2);
  put_f32(p + mh::kXscale01, h.xscale0_1);
  put_f32(p + mh::kXscale02, h.xscale0_2);
  put_f32(p + mh::kL01, h.l0_1);
  put_f32(p + mh::kL02, h.l0_2);
  put_i16(p + mh::kHdW4, h.hd_w4);
  put_i16(p + mh::kHdMark, h.hd_mark);
  put_i16(p + mh::kHdKind, h.hd_kind);
  put_i16(p + mh::kHdZero, h.hd_zero);
  put_i16(p + mh::kRatioPct, h.ratio_pct);
}

MainHeader decode_main_header(const uint8_t* p) {
  MainHeader h;
  h.indic = get_i16(p + mh::kIndic);
  h.len_prev = get_i16(p + mh::kLenPrev);
  std::memcpy(h.pix_file, p + mh::kPixFile, mh::kPixFileSize);
  h.main_time = get_u32(p + mh::kMainTime);
  h.line_fr = get_f64(p + mh::kLineFr);
  h.hbl = get_f32(p + mh::kHbl);
  h.hbr = get_f32(p + mh::kHbr);
  h.hfr = get_f32(p + mh::kHfr);
  h.centre_pix = get_i16(p + mh::kCentrePix);
  h.gate1 = get_i16(p + mh::kGate1);
  h.gate2 = get_i16(p + mh::kGate2);
  h.xscale0_1 = get_f32(p + mh::kXscale01);
  h.xscale0_2 = get_f32(p + mh::kXscale02);
  h.l0_1 = get_f32(p + mh::kL01);
  h.l0_2 = get_f32(p + mh::kL02);
  h.hd_w4 = get_i16(p + mh::kHdW4);
  h.hd_mark = get_i16(p + mh::kHdMark);
  h.hd_kind = get_i16(p + mh::kHdKind);
  h.hd_zero = get_i16(p + mh::kHdZero);
  h.ratio_pct = get_i16(p + mh::kRatioPct);
  return h;
}

}  // namespace quorda
