// The main header: the raw payload `hd_par` (56 bytes) and the 74-byte main header record that
// the header file, the hydrometeor file and the header list carry.
#pragma once

#include <cstdint>

#include "base/constants.h"

namespace quorda {

inline constexpr size_t kRawMainHeaderSize = 56;
inline constexpr size_t kMainHeaderSize = 74;
// The first word of a main header record: its length negated, which marks it in the hydrometeor
// stream apart from the particle records.
inline constexpr int16_t kMainHeaderIndic = -74;

// The first 56 bytes of a raw kind-3 record. Only the fields the converter uses are kept.
struct RawMainHeader {
  int16_t hd_w4 = 0;
  double line_fr = 0;
  int16_t centre_pix = 0;
  int16_t gate1 = 0;
  int16_t gate2 = 0;
  float hbl = 0, hbr = 0, hfr = 0;     // as stored; never used
  float xscale0_1 = 0, xscale0_2 = 0;  // as stored; never used
  float l0_1 = 0;
  float l0_2 = 0;
  int16_t ratio_den = 0;
  int16_t ratio_num = 0;
  uint32_t valid_since = 0;  // main time: calendar seconds from which the header is in force
};

namespace raw_mh {
inline constexpr size_t kHdW4 = 4;
inline constexpr size_t kLineFr = 6;
inline constexpr size_t kCentrePix = 14;
inline constexpr size_t kGate1 = 16;
inline constexpr size_t kGate2 = 18;
inline constexpr size_t kHbl = 20;
inline constexpr size_t kHbr = 24;
inline constexpr size_t kHfr = 28;
inline constexpr size_t kXscale01 = 32;
inline constexpr size_t kXscale02 = 36;
inline constexpr size_t kL01 = 40;
inline constexpr size_t kL02 = 44;
inline constexpr size_t kRatioDen = 48;
inline constexpr size_t kRatioNum = 50;
inline constexpr size_t kValidSince = 52;
}  // namespace raw_mh

// REQUIRES: p holds kRawMainHeaderSize bytes.
RawMainHeader decode_raw_main_header(const uint8_t* p);
// REQUIRES: p has room for kRawMainHeaderSize bytes. Unused bytes are written as zero.
void encode_raw_main_header(const RawMainHeader& h, uint8_t* p);

// The fixed words at offsets 66, 68 and 70 of every main header record: a mark and a kind that
// identify a record of this 74-byte layout to the readers of the header file and the hydrometeor
// stream, and a reserved word. They carry no measure; the converter writes them unchanged and never
// reads them back.
inline constexpr int16_t kMainHeaderMark = -7001;
inline constexpr int16_t kMainHeaderKind = 2;
inline constexpr int16_t kMainHeaderReserved = 0;

// The 74-byte main header record.
struct MainHeader {
  int16_t indic = kMainHeaderIndic;
  int16_t len_prev = 0;
  char pix_file[14] = {};  // name and extension of the hydrometeor file, zero-terminated
  uint32_t main_time = 0;
  double line_fr = 0;
  float hbl = 0, hbr = 0, hfr = 0;
  int16_t centre_pix = 0;
  int16_t gate1 = 0;
  int16_t gate2 = 0;
  float xscale0_1 = 0;
  float xscale0_2 = 0;
  float l0_1 = 0;
  float l0_2 = 0;
  int16_t hd_w4 = 0;
  int16_t hd_mark = kMainHeaderMark;
  int16_t hd_kind = kMainHeaderKind;
  int16_t hd_zero = kMainHeaderReserved;
  int16_t ratio_pct = 0;
};

namespace mh {
inline constexpr size_t kIndic = 0;
inline constexpr size_t kLenPrev = 2;
inline constexpr size_t kPixFile = 4;
inline constexpr size_t kPixFileSize = 14;
inline constexpr size_t kMainTime = 18;
inline constexpr size_t kLineFr = 22;
inline constexpr size_t kHbl = 30;
inline constexpr size_t kHbr = 34;
inline constexpr size_t kHfr = 38;
inline constexpr size_t kCentrePix = 42;
inline constexpr size_t kGate1 = 44;
inline constexpr size_t kGate2 = 46;
inline constexpr size_t kXscale01 = 48;
inline constexpr size_t kXscale02 = 52;
inline constexpr size_t kL01 = 56;
inline constexpr size_t kL02 = 60;
inline constexpr size_t kHdW4 = 64;
inline constexpr size_t kHdMark = 66;
inline constexpr size_t kHdKind = 68;
inline constexpr size_t kHdZero = 70;
inline constexpr size_t kRatioPct = 72;
}  // namespace mh

// REQUIRES: p has room for kMainHeaderSize bytes.
void encode_main_header(const MainHeader& h, uint8_t* p);
// REQUIRES: p holds kMainHeaderSize bytes.
MainHeader decode_main_header(const uint8_t* p);

}  // namespace quorda
