// Little-endian coding of the fixed-width fields of the program's files.
//
// Every file format of the converter (raw records, main header records, particle records, the
// header and index files) is little-endian and packed. Fields are put into and taken out of byte
// buffers with these helpers, never by casting a struct onto the bytes.
//
// REQUIRES: the buffer holds at least the field's width at the given place. These are the
// unchecked coders for buffers whose size the caller has already checked.
#pragma once

#include <cstdint>
#include <cstring>

namespace quorda {

inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_i16(uint8_t* p, int16_t v) {
  put_u16(p, static_cast<uint16_t>(v));
}
inline void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void put_i32(uint8_t* p, int32_t v) {
  put_u32(p, static_cast<uint32_t>(v));
}
inline void put_u64(uint8_t* p, uint64_t v) {
  put_u32(p, static_cast<uint32_t>(v));
  put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void put_f32(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put_u32(p, bits);
}
inline void put_f64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put_u64(p, bits);
}

inline uint16_t get_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t get_i16(const uint8_t* p) {
  return static_cast<int16_t>(get_u16(p));
}
inline uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t get_i32(const uint8_t* p) {
  return static_cast<int32_t>(get_u32(p));
}
inline uint64_t get_u64(const uint8_t* p) {
  return static_cast<uint64_t>(get_u32(p)) | (static_cast<uint64_t>(get_u32(p + 4)) << 32);
}
inline float get_f32(const uint8_t* p) {
  uint32_t bits = get_u32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
inline double get_f64(const uint8_t* p) {
  uint64_t bits = get_u64(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace quorda
