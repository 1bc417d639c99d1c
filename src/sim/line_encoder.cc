// The line encoder: camera lines into line-block payloads that decode_line_block decodes back to the same
// lines, and the writers of raw records.
//
// Lines are taken one at a time into the open frame of the open block. Each frame keeps the
// largest values it must hold, from which its base, its widths and its length follow; a line that
// would break a limit closes the frame (and, where needed, the block) and opens the next.
#include "sim/line_encoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/line_block_format.h"
#include "format/main_header.h"
#include "format/raw_record.h"

namespace quorda {
namespace {

constexpr int kMaxPixel = 1023;
constexpr int kMaxWidth = 15;
constexpr int kMaxBase = 1023;
using namespace lineblock;
constexpr int kMaxRepeat = (1 << (kMaxWidth - 1)) - 1;

int bit_width(int v) {
  int n = 0;
  for (; v > 0; v >>= 1) ++n;
  return n;
}

bool same_runs(const LineRecord& a, const LineRecord& b) {
  if (a.n_runs != b.n_runs) return false;
  for (int j = 0; j < a.n_runs; ++j) {
    if (a.runs[j].start != b.runs[j].start || a.runs[j].end != b.runs[j].end) return false;
  }
  return true;
}

void check_line(const LineRecord& line, const LineRecord* prev) {
  if (prev != nullptr && !(line.y_count > prev->y_count)) {
    throw std::invalid_argument("encode_line_blocks: y_count must rise");
  }
  if (line.n_runs < 1 || line.n_runs > kMaxRuns) {
    throw std::invalid_argument("encode_line_blocks: a line has 1 to 6 runs");
  }
  int prev_end = 0;
  for (int j = 0; j < line.n_runs; ++j) {
    const Run& r = line.runs[j];
    if (r.start < prev_end || r.end < r.start || r.end > kMaxPixel) {
      throw std::invalid_argument("encode_line_blocks: runs must be ordered pixel ranges 0 to 1023");
    }
    prev_end = r.end;
  }
}

// One code of a frame: a line with runs (an index into the input) or a repetition count.
struct Code {
  int line = -1;  // >= 0: a coded line
  int repeat = 0;
};

// The values a frame must hold and the fields it has before its end code.
struct FrameStats {
  int min_first = INT_MAX;  // first-run starts of the coded lines
  int max_first = -1;
  int max_gap = 0;
  int max_len = 0;
  int max_repeat = 0;
  int n_pos = 0;
  int n_len = 0;
};

struct Shape {
  int base = 0;
  int w_pos = 1;
  int w_len = 1;
  int32_t length = 0;
};

FrameStats with_coded(FrameStats s, const LineRecord& line) {
  s.min_first = std::min<int>(s.min_first, line.runs[0].start);
  s.max_first = std::max<int>(s.max_first, line.runs[0].start);
  for (int j = 0; j < line.n_runs; ++j) {
    if (j > 0) s.max_gap = std::max(s.max_gap, line.runs[j].start - line.runs[j - 1].end);
    s.max_len = std::max(s.max_len, line.runs[j].end - line.runs[j].start);
  }
  s.n_pos += line.n_runs;
  s.n_len += line.n_runs;
  return s;
}

FrameStats with_repeat(FrameStats s, int repeat, bool new_code) {
  s.max_repeat = std::max(s.max_repeat, repeat);
  if (new_code) ++s.n_pos;
  return s;
}

Shape shape_of(const FrameStats& s, const EncodeLimits& lim) {
  Shape sh;
  if (lim.fixed_w_pos != 0) {
    sh.base = lim.fixed_base;
    sh.w_pos = lim.fixed_w_pos;
    sh.w_len = lim.fixed_w_len;
    const int pos_max = (1 << (sh.w_pos - 1)) - 1;
    const int len_max = (1 << (sh.w_len - 1)) - 1;
    bool fits = s.max_gap <= pos_max && s.max_repeat <= pos_max && s.max_len <= len_max;
    if (s.max_first >= 0) fits = fits && s.min_first >= sh.base && s.max_first - sh.base <= pos_max;
    if (!fits) throw std::invalid_argument("encode_line_blocks: a value does not fit the fixed frame shape");
  } else {
    sh.base = s.max_first >= 0 ? s.min_first : 0;
    int pos_max = std::max(s.max_gap, s.max_repeat);
    if (s.max_first >= 0) pos_max = std::max(pos_max, s.max_first - s.min_first);
    sh.w_pos = bit_width(pos_max) + 1;
    sh.w_len = bit_width(s.max_len) + 1;
  }
  // The end code begins at bit `bits` of the stream; the decoder has then fetched the word it
  // lies in and the word after it, or only the first word when the end code is the first field.
  const int32_t bits = s.n_pos * sh.w_pos + s.n_len * sh.w_len;
  sh.length = bits == 0 ? kFrameHeadSize + 2 : kFrameHeadSize + 2 * (bits / 16 + 2);
  return sh;
}

// Fields into 16-bit little-endian words, least significant bit first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void put(int w, uint32_t value, bool flag) {
    acc_ |= static_cast<uint64_t>(value | (flag ? 1u << (w - 1) : 0u)) << n_;
    n_ += w;
    while (n_ >= 16) {
      emit(static_cast<uint16_t>(acc_));
      acc_ >>= 16;
      n_ -= 16;
    }
  }
  void flush() {
    if (n_ > 0) emit(static_cast<uint16_t>(acc_));
    acc_ = 0;
    n_ = 0;
  }

 private:
  void emit(uint16_t word) {
    uint8_t b[2];
    put_u16(b, word);
    out_.push_back(b[0]);
    out_.push_back(b[1]);
  }
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

class BlockEncoder {
 public:
  BlockEncoder(std::span<const LineRecord> lines, const EncodeLimits& lim) : lines_(lines), lim_(lim) {
    max_lines_ = std::min(lim.max_lines, static_cast<int>(INT16_MAX));
    max_payload_ = std::min<int32_t>(lim.max_payload, kMaxPayload);
    max_frame_ = std::min<int32_t>(lim.max_frame, kMaxFrameLen);
  }

  std::vector<std::vector<uint8_t>> run() {
    for (size_t k = 0; k < lines_.size(); ++k) {
      check_line(lines_[k], k > 0 ? &lines_[k - 1] : nullptr);
      add(static_cast<int>(k));
    }
    close_block();
    return std::move(blocks_);
  }

 private:
  void add(int k) {
    const LineRecord& line = lines_[k];
    const bool repeat = saved_ != nullptr && same_runs(*saved_, line);
    if (frame_open_ && line.y_count == y_last_ + 1.0) {
      const bool extend =
          repeat && !codes_.empty() && codes_.back().line < 0 && codes_.back().repeat < kMaxRepeat;
      FrameStats t = repeat ? with_repeat(stats_, extend ? codes_.back().repeat + 1 : 1, !extend)
                            : with_coded(stats_, line);
      if (fits(t, max_frame_)) {
        stats_ = t;
        if (extend) {
          ++codes_.back().repeat;
        } else {
          push(k, repeat);
        }
        take(line, repeat);
        return;
      }
    }
    if (block_open_) {
      close_frame();
      FrameStats t = repeat ? with_repeat(FrameStats{}, 1, true) : with_coded(FrameStats{}, line);
      if (fits(t, max_frame_)) {
        open_frame(line, t);
        push(k, repeat);
        take(line, repeat);
        return;
      }
      close_block();
    }
    open_block();
    FrameStats t = with_coded(FrameStats{}, line);
    if (!fits(t, max_frame_))
      throw std::invalid_argument("encode_line_blocks: limits too small for one line");
    open_frame(line, t);
    push(k, false);
    take(line, false);
  }

  // Whether the open block can hold one more line with its open frame's values as `t`.
  bool fits(const FrameStats& t, int32_t max_frame) const {
    const Shape sh = shape_of(t, lim_);
    return lines_in_block_ + 1 <= max_lines_ && sh.length <= max_frame &&
           kLineCountSize + closed_bytes_ + sh.length <= max_payload_;
  }

  void push(int k, bool repeat) { codes_.push_back(repeat ? Code{-1, 1} : Code{k, 0}); }

  void take(const LineRecord& line, bool repeat) {
    if (!repeat) saved_ = &line;
    y_last_ = line.y_count;
    ++lines_in_block_;
  }

  void open_block() {
    block_open_ = true;
    payload_.assign(kLineCountSize, 0);
    closed_bytes_ = 0;
    lines_in_block_ = 0;
    saved_ = nullptr;  // a block never opens with a repetition
  }

  void open_frame(const LineRecord& line, const FrameStats& t) {
    frame_open_ = true;
    stats_ = t;
    y0_ = line.y_count;
    codes_.clear();
  }

  void close_frame() {
    if (!frame_open_) return;
    frame_open_ = false;
    const Shape sh = shape_of(stats_, lim_);
    const size_t head_at = payload_.size();
    payload_.resize(head_at + kFrameHeadSize);
    const uint32_t word = frame_word(sh.length, sh.base, sh.w_len, sh.w_pos);
    put_u32(&payload_[head_at], word);
    put_f64(&payload_[head_at + 4], y0_);
    BitWriter bw(payload_);
    for (const Code& c : codes_) {
      if (c.line < 0) {
        bw.put(sh.w_pos, static_cast<uint32_t>(c.repeat), true);
        continue;
      }
      const LineRecord& line = lines_[c.line];
      for (int j = 0; j < line.n_runs; ++j) {
        const int pos = j == 0 ? line.runs[0].start - sh.base : line.runs[j].start - line.runs[j - 1].end;
        bw.put(sh.w_pos, static_cast<uint32_t>(pos), false);
        bw.put(sh.w_len, static_cast<uint32_t>(line.runs[j].end - line.runs[j].start), j == line.n_runs - 1);
      }
    }
    bw.put(sh.w_pos, 0, true);  // end of frame
    bw.flush();
    payload_.resize(head_at + static_cast<size_t>(sh.length), 0);
    closed_bytes_ += sh.length;
  }

  void close_block() {
    if (!block_open_) return;
    close_frame();
    block_open_ = false;
    put_i16(payload_.data(), static_cast<int16_t>(lines_in_block_));
    blocks_.push_back(std::move(payload_));
    payload_.clear();
  }

  std::span<const LineRecord> lines_;
  const EncodeLimits& lim_;
  int max_lines_ = 0;
  int32_t max_payload_ = 0;
  int32_t max_frame_ = 0;

  std::vector<std::vector<uint8_t>> blocks_;
  bool block_open_ = false;
  std::vector<uint8_t> payload_;
  int32_t closed_bytes_ = 0;  // bytes of the block's closed frames
  int lines_in_block_ = 0;
  const LineRecord* saved_ = nullptr;  // last coded line of the open block

  bool frame_open_ = false;
  FrameStats stats_;
  std::vector<Code> codes_;
  double y0_ = 0;
  double y_last_ = 0;
};

}  // namespace

std::vector<std::vector<uint8_t>> encode_line_blocks(std::span<const LineRecord> lines,
                                                     const EncodeLimits& limits) {
  if (limits.fixed_w_pos != 0 &&
      (limits.fixed_w_pos < 1 || limits.fixed_w_pos > kMaxWidth || limits.fixed_w_len < 1 ||
       limits.fixed_w_len > kMaxWidth || limits.fixed_base < 0 || limits.fixed_base > kMaxBase)) {
    throw std::invalid_argument("encode_line_blocks: fixed base 0 to 1023, widths 1 to 15");
  }
  return BlockEncoder(lines, limits).run();
}

void append_record(std::vector<uint8_t>& file, int16_t kind, std::span<const uint8_t> payload) {
  if (payload.size() > static_cast<size_t>(kMaxPayload)) {
    throw std::invalid_argument("append_record: payload longer than 32767 bytes");
  }
  const size_t at = file.size();
  file.resize(at + kRecordHeadSize);
  put_record_head(&file[at], RawRecordHead{kind, static_cast<int16_t>(payload.size())});
  file.insert(file.end(), payload.begin(), payload.end());
}

void append_main_header_record(std::vector<uint8_t>& file, const RawMainHeader& h) {
  uint8_t buf[kRawMainHeaderSize];
  encode_raw_main_header(h, buf);
  append_record(file, kKindMainHeader, std::span<const uint8_t>(buf, kRawMainHeaderSize));
}

}  // namespace quorda
