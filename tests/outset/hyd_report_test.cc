// The reports of an output set on damaged bytes: CSV lines of records whose numbers take their
// longest text, and the index file check of a particle whose t1 no last saved line can hold.
#include "outset/hyd_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/main_header.h"
#include "format/output_set_heads.h"
#include "format/particle_record.h"

namespace quorda {
namespace {

// Text written to a FILE*, collected through a temporary file (binary, so that line ends stay as
// written on every system).
class MemoryStream {
 public:
  MemoryStream() : f_(std::tmpfile()) {}
  ~MemoryStream() { std::fclose(f_); }
  FILE* file() { return f_; }
  std::string text() {
    std::fflush(f_);
    const long end = std::ftell(f_);
    std::string s(static_cast<size_t>(end), '\0');
    std::rewind(f_);
    s.resize(std::fread(s.data(), 1, s.size(), f_));
    std::fseek(f_, 0, SEEK_END);
    return s;
  }

 private:
  FILE* f_;
};

// A particle record of MAXLIN lines in each camera whose outline values are all 0 (one bit each):
// every run reads x_min:x_min.
std::vector<uint8_t> widest_record(double t1) {
  const int words = outline_word_count(4 * MAXLIN, 1);
  const int len = static_cast<int>(kPixHeadSize) + 2 * words;
  std::vector<uint8_t> r(static_cast<size_t>(len), 0);
  put_u16(r.data(), static_cast<uint16_t>((1 << 11) | len));
  put_f64(r.data() + pixhead::kT1, t1);
  put_i16(r.data() + pixhead::kEqDiam, INT16_MIN);
  put_i16(r.data() + pixhead::kLineNo, MAXLIN);
  put_i16(r.data() + pixhead::kLineNoDiff, 0);
  put_i16(r.data() + pixhead::kDiffLins, INT16_MIN);
  put_i16(r.data() + pixhead::kXMinA, INT16_MIN);
  put_i16(r.data() + pixhead::kXMinB, INT16_MIN);
  put_i16(r.data() + pixhead::kVel, INT16_MIN);
  put_i16(r.data() + pixhead::kScaleA, INT16_MIN);
  put_i16(r.data() + pixhead::kScaleB, INT16_MIN);
  return r;
}

std::string fixed(double v, int precision) {
  const int n = std::snprintf(nullptr, 0, "%.*f", precision, v);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), "%.*f", precision, v);
  s.resize(static_cast<size_t>(n));
  return s;
}

TEST(CsvWriter, WritesTheLongestLinesWholeWhereverTheBufferStands) {
  // Line frequency 1: t1 and the time of day both take 317 characters.
  const double t1 = -std::numeric_limits<double>::max();
  HeaderInForce headers;
  MainHeader mh;
  mh.line_fr = 1.0;
  uint8_t mh_bytes[kMainHeaderSize];
  encode_main_header(mh, mh_bytes);
  headers.add(mh_bytes, 0);
  const std::vector<uint8_t> wide = widest_record(t1);

  std::string runs;
  for (int i = 0; i < MAXLIN; ++i) runs += (i > 0 ? ";" : "") + std::string("-32768:-32768");
  const std::string wide_line = fixed(t1, 6) + "," + fixed(t1, 6) +
                                ",-327.68,-0.0033,-3.2768,-3.2768,600,0,-32768," + "-32768,-32768," +
                                std::to_string(wide.size()) + ",1," + runs + "," + runs + "\n";
  ASSERT_GT(wide_line.size(), 17500u);

  // A short line first, repeated so that the wide lines begin at every place of the buffer that
  // matters: some short lines and three wide ones are written before the first flush.
  std::vector<uint8_t> small = widest_record(12.5);
  put_i16(small.data() + pixhead::kLineNo, 2);  // no outline asked for, so the words do not matter
  for (int shorts = 0; shorts < 400; ++shorts) {
    MemoryStream out;
    {
      CsvWriter csv(out.file());
      for (int i = 0; i < shorts; ++i) csv.record(small.data(), headers, false);
      for (int i = 0; i < 4; ++i) ASSERT_TRUE(csv.record(wide.data(), headers, true));
    }
    const std::string text = out.text();
    size_t at = 0;
    for (int i = 0; i < shorts; ++i) at = text.find('\n', at) + 1;
    ASSERT_EQ(text.substr(at), wide_line + wide_line + wide_line + wide_line)
        << shorts << " short lines first";
  }
}

TEST(CheckOutputSet, LastParticleBeyondWhatTheLastSavedLineCanHoldIsAFault) {
  // One particle record with t1 = 1e20. A plain conversion of 1e20 to 64 bits is undefined; common
  // hardware gives 0 or 2^63, so neither may pass as the truncated t1.
  std::vector<uint8_t> hyd(40, 0);
  put_u16(hyd.data(), static_cast<uint16_t>((2 << 11) | 40));
  put_f64(hyd.data() + pixhead::kT1, 1e20);
  const HydWalk walk = walk_hyd(hyd);
  ASSERT_TRUE(walk.ok()) << walk.error;
  for (uint64_t last_saved_line : {uint64_t{0}, uint64_t{1} << 63}) {
    std::vector<uint8_t> abh(kAbhSavedSize, 0);
    put_u64(abh.data() + kAbhLastSavedLineOffset, last_saved_line);
    const std::string fault = ".abh: lastpix_y " + std::to_string(last_saved_line) +
                              ", the last particle record (at 0) has t1 100000000000000000000.000000";
    bool named = false;
    for (const std::string& f : check_output_set(walk, {hyd, {}, abh})) named |= f == fault;
    EXPECT_TRUE(named) << fault;
  }

  // A t1 just below 2^64 truncates to the value it holds.
  std::vector<uint8_t> abh(kAbhSavedSize, 0);
  put_f64(hyd.data() + pixhead::kT1, 18446744073709549568.0);
  put_u64(abh.data() + kAbhLastSavedLineOffset, 18446744073709549568u);
  for (const std::string& f : check_output_set(walk_hyd(hyd), {hyd, {}, abh}))
    EXPECT_EQ(f.find(".abh"), std::string::npos) << f;
}

}  // namespace
}  // namespace quorda
