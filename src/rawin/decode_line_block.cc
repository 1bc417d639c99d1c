// Line-data decompression: the frames of one line block payload into the decoder's line buffer.
//
// The framing apart from the codes: decode_frames() walks a block's frames and read_frame_head()
// takes a frame's head and starts the bit reader on its stream; decode_frame() turns the
// stream's codes into line records, with put_repetitions() for a repeated line and
// read_more_runs() for the runs after a line's first; the reporters (cold, out of line) write the
// messages of a block that ends early. A line record is
// written whole: its number, then the 32 bytes from n_runs to its end, built in registers as
// four 64-bit words, so that repetitions copy the saved line from registers rather than reading
// back a record just written field by field.
#include "rawin/decode_line_block.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "base/bytes.h"
#include "base/constants.h"
#include "base/trace.h"
#include "format/line_block_format.h"
#include "rawin/bit_reader.h"

namespace quorda {
namespace {

using namespace lineblock;

// The bytes of a line record from n_runs to its end, as two 16-byte vectors of 64-bit words: 16-bit
// item k (0 = n_runs, 1 + 2j = start of run j, 2 + 2j = its end) is bits 16 * (k % 4) of word
// k / 4; the padding after the sixth run is zero. Vectors rather than an array, so that the
// compiler keeps a line in registers and stores it with two wide stores.
constexpr size_t kBodyOffset = offsetof(LineRecord, n_runs);
static_assert(kBodyOffset == 8 && offsetof(LineRecord, runs) == 10 && sizeof(Run) == 4);
static_assert(sizeof(LineRecord) == kBodyOffset + 32);

using Words = uint64_t __attribute__((vector_size(16)));

struct LineBody {
  Words lo;  // words 0 and 1
  Words hi;  // words 2 and 3
};

// The 16 low bits of v, placed as item k of a body. REQUIRES: 0 <= k < 16.
constexpr uint64_t item(int k, uint32_t v) {
  return static_cast<uint64_t>(v & 0xFFFFu) << (16 * (k & 3));
}

[[gnu::always_inline]] inline void put_line(LineRecord* rec, double y, const LineBody& b) {
  auto* p = reinterpret_cast<uint8_t*>(rec);
  std::memcpy(p, &y, sizeof y);
  std::memcpy(p + kBodyOffset, &b.lo, sizeof b.lo);
  std::memcpy(p + kBodyOffset + sizeof b.lo, &b.hi, sizeof b.hi);
}

// Line numbers of a frame: its y_count, plus 1 for each line. When y_count is a whole number
// small enough that every sum stays exact, the number of line k is y_count + k computed at once;
// otherwise 1 is added line by line, rounding as it goes.
// take() gives the next line's number; next(k) the number k lines on (k = 0 or 1) without
// taking it, and step(n) takes n = 1 or 2 lines.
struct WholeClock {
  int64_t y;
  double take() { return static_cast<double>(y++); }
  double now() const { return static_cast<double>(y); }
  double next(int k) const { return static_cast<double>(y + k); }
  void step(int n) { y += n; }
};
struct StepClock {
  double y;
  double take() {
    double r = y;
    y += 1;
    return r;
  }
  double now() const { return y; }
  double next(int k) const { return k == 0 ? y : y + 1; }
  void step(int n) {
    y += 1;
    if (n == 2) y += 1;
  }
};

// Largest magnitude of a y_count counted exactly: 2000 lines on, the sum is still below 2^53.
constexpr double kWholeClockLimit = 4503599627370496.0;  // 2^52

// What a part of the decoder tells the block: go on with the next frame, reject the block, or
// use the lines decoded so far.
enum class BlockResult { kNextFrame, kRejected, kUsable };

// Tags of a payload shorter than the block needs: its line count, a frame word, a frame head, a
// frame's announced length.
constexpr char kShortCountTag[] = "decmpr01";
constexpr char kShortFrameWordTag[] = "decmpr02";
constexpr char kShortFrameHeadTag[] = "decmpr03";
constexpr char kShortFrameTag[] = "decmpr04";
// A block whose line count is not positive.
constexpr char kNoLines[] = " decmpr failed, block skipped \n";

// The payload holds fewer bytes than the block needs: the tag is reported with ENODATA as the
// reason (no system call failed; the record framing handed over a shorter payload) and the
// block is rejected.
[[gnu::cold]] BlockResult short_read(Diag& diag, const char* tag) {
  errno = ENODATA;
  report_tag(diag, tag);
  return BlockResult::kRejected;
}

// A word fetched beyond the frame buffer means the frame is damaged: whatever the fields read
// since then said, the block is rejected.
constexpr char kBeyondBuffer[] = "decmpr: frame read beyond its %d-byte buffer y_count=%lf, block skipped \n";

[[gnu::cold]] BlockResult beyond_buffer(Diag& diag, double y) {
  errf(diag, kBeyondBuffer, BitReader::kFrameBufSize, y);
  return BlockResult::kRejected;
}

struct FrameHead {
  int32_t length;
  int base;
  int w_len;
  int w_pos;
  double y;
};

// Where the frame loop stands: the block's line buffer, the next line, the saved line.
struct BlockCursor {
  LineRecord* lines;
  int16_t count;
  int limit;            // lines the buffer takes: min(count, kLineBufLines)
  int i;                // next line
  LineBody saved_body;  // the last line coded with runs
  bool rising;          // the number of each line before line i exceeds the one before it
  double last_y;        // the number of line i - 1, when i > 0
};

constexpr char kFrameShorterThanHead[] =
    "decmpr: frame length %d shorter than its head y_count=%lf, block skipped \n";
constexpr char kZeroFieldWidth[] = "decmpr: field width 0 (w_pos=%d w_len=%d) y_count=%lf, block skipped \n";

// Reads the head of the frame at payload offset `at` and starts the reader on its stream.
// Returns kNextFrame when the frame is ready (`at` moved past it), else the block's result.
BlockResult read_frame_head(Diag& diag, const uint8_t* payload, int32_t len, int32_t& at, BitReader& br,
                            FrameHead& h) {
  if (len - at < kFrameWordSize) return short_read(diag, kShortFrameWordTag);
  const uint32_t word = get_u32(payload + at);
  if (len - at < kFrameHeadSize) return short_read(diag, kShortFrameHeadTag);
  h.y = get_f64(payload + at + kFrameYCountOffset);
  h.length = static_cast<int32_t>(word & kFrameLenMask);
  h.base = static_cast<int>((word >> kBaseShift) & kBaseMask);
  h.w_len = static_cast<int>((word >> kWLenShift) & kWidthMask);
  h.w_pos = static_cast<int>((word >> kWPosShift) & kWidthMask);
  if (h.length < kFrameHeadSize) {
    errf(diag, kFrameShorterThanHead, h.length, h.y);
    return BlockResult::kRejected;
  }
  if (h.w_pos == 0 || h.w_len == 0) {
    errf(diag, kZeroFieldWidth, h.w_pos, h.w_len, h.y);
    return BlockResult::kRejected;
  }
  if (len - at < h.length) return short_read(diag, kShortFrameTag);
  br.start(payload + at + kFrameHeadSize, h.length - kFrameHeadSize);
  at += h.length;
  return BlockResult::kNextFrame;
}

// The reporters of a block that ends inside a frame. Each first checks whether the reader ran
// beyond the frame buffer (c: the stream bit where the last field read began), which overrides
// the rest. They take c rather than the reader so that the reader never leaves registers.
// A block with more lines than its count or the buffer allows: the lines so far are used.
constexpr char kMoreLines[] = "decmpr: i=%d n_lin=%d \n";
constexpr char kWrongEnd[] = "wrong end of frame: diff =%d y_count=%lf !!!\n";
constexpr char kYCount[] = "y_count=%lf\n";
constexpr char kFirstRepetition[] = "repet found : i=%d light=%d n_lin=%d \n";
constexpr char kFirstRepetitionCode[] = "error 02 \n";
constexpr char kRepetitionCut[] = "i=%d k=%d light=%d n_lin=%d \n";
constexpr char kRepetitionCutAt[] = "decmpr: i=%d \n";
constexpr char kSeventhRun[] = "j=%d\n";
constexpr char kFlagInLineRun[] = " %3d-%3d\n";
constexpr char kFlagInLine[] = "err.01: n_lin=%d i=%d j=%d \n";

// Where a fault was found: the stream bit where the last field read began, the line number then,
// and the frame's count of lines.
struct FaultSpot {
  int32_t bit;
  double y;
  int count;
};

[[gnu::cold, gnu::noinline]] BlockResult report_more_lines(Diag& diag, FaultSpot at, int i) {
  if (BitReader::overflowed_at(at.bit)) return beyond_buffer(diag, at.y);
  errf(diag, kMoreLines, i, at.count);
  return BlockResult::kUsable;
}

[[gnu::cold, gnu::noinline]] BlockResult report_end(Diag& diag, int32_t c, double y, int32_t frame_len) {
  if (BitReader::overflowed_at(c)) return beyond_buffer(diag, y);
  errf(diag, kWrongEnd, BitReader::offset_after_field_at(c) - frame_len, y);
  return BlockResult::kRejected;
}

[[gnu::cold, gnu::noinline]] BlockResult report_first_repetition(Diag& diag, FaultSpot at, int v) {
  if (BitReader::overflowed_at(at.bit)) return beyond_buffer(diag, at.y);
  errf(diag, kYCount, at.y);
  errf(diag, kFirstRepetition, 0, v, at.count);
  errf(diag, kFirstRepetitionCode);
  return BlockResult::kRejected;
}

[[gnu::cold, gnu::noinline]] BlockResult report_repetition_cut(Diag& diag, FaultSpot at, int i, int done,
                                                               int v) {
  if (BitReader::overflowed_at(at.bit)) return beyond_buffer(diag, at.y);
  errf(diag, kRepetitionCut, i, done, v, at.count);
  errf(diag, kRepetitionCutAt, i);
  return BlockResult::kUsable;
}

[[gnu::cold, gnu::noinline]] BlockResult report_seventh_run(Diag& diag, int32_t c, double y) {
  if (BitReader::overflowed_at(c)) return beyond_buffer(diag, y);
  errf(diag, kSeventhRun, kMaxRuns);
  return BlockResult::kRejected;
}

[[gnu::cold, gnu::noinline]] BlockResult report_flag_in_line(Diag& diag, FaultSpot at, uint32_t start,
                                                             uint32_t end, int i, int j) {
  if (BitReader::overflowed_at(at.bit)) return beyond_buffer(diag, at.y);
  errf(diag, kYCount, at.y);
  errf(diag, kFlagInLineRun, static_cast<int16_t>(start), static_cast<int16_t>(end));
  errf(diag, kFlagInLine, at.count, i, j);
  return BlockResult::kRejected;
}

// The field widths and flags of a frame's codes: every field is w bits, the low w - 1 bits its
// value, the top bit its flag.
struct FieldCodes {
  explicit FieldCodes(const FrameHead& h)
      : w_pos(h.w_pos),
        w_len(h.w_len),
        pos_flag(1u << (h.w_pos - 1)),
        pos_value(pos_flag - 1u),
        len_flag(1u << (h.w_len - 1)),
        len_value(len_flag - 1u),
        base(static_cast<uint32_t>(h.base)) {}
  int w_pos;
  int w_len;
  uint32_t pos_flag;
  uint32_t pos_value;
  uint32_t len_flag;
  uint32_t len_value;
  uint32_t base;
};

// The end code of a frame: sound when the reader stopped inside the frame's last word and within
// the frame buffer. Returns kNextFrame then (with the word-fetch offset in end_offset).
[[gnu::always_inline]] inline BlockResult end_of_frame(Diag& diag, const FrameHead& h, int32_t c, double y,
                                                       int32_t& end_offset) {
  const int32_t offset = BitReader::offset_after_field_at(c);
  if (offset < h.length || BitReader::overflowed_at(c)) return report_end(diag, c, y, h.length);
  end_offset = offset;
  return BlockResult::kNextFrame;
}

// Writes the saved line `copies` times from line i on. One or two lines are written as two,
// whatever the count (a second line not meant is overwritten by the next code, or lies past the
// block's lines), so that the common counts share one path.
// REQUIRES: 0 < copies <= room = limit - i.
template <typename Clock>
[[gnu::always_inline]] inline void put_repetitions(LineRecord* lines, int i, int copies, int room,
                                                   Clock& clock, const LineBody& saved_body) {
  if (copies <= 2 && room >= 2) {
    put_line(lines + i, clock.next(0), saved_body);
    put_line(lines + i + 1, clock.next(1), saved_body);
    clock.step(copies);
  } else {
    for (int k = 0; k < copies; ++k) put_line(lines + i + k, clock.take(), saved_body);
  }
}

// How the runs after a line's first one ended.
enum class MoreRuns {
  kLineEnd,     // a length field with its flag closed the line
  kSeventhRun,  // a seventh run would follow
  kFlagInLine,  // a flagged position field came before the line's end
};

// The runs after the first of a line whose first length field had no flag, each placed from the
// end of the one before, up to a length field with its flag. On kLineEnd `body` holds the whole
// line (w0: its first run); otherwise start, end and j tell the last run read and its index, for
// the message.
[[gnu::always_inline]] inline MoreRuns read_more_runs(BitReader& br, const FieldCodes& fc, uint64_t w0,
                                                      uint32_t& start, uint32_t& end, int& j,
                                                      LineBody& body) {
  uint64_t w[4] = {w0, 0, 0, 0};
  uint32_t g = 0;  // the last length field read: the first one's had no flag
  j = 1;
#pragma GCC unroll 6
  for (; j < kMaxRuns + 1; ++j) {
    if (j == kMaxRuns) break;
    br.ensure(fc.w_pos + fc.w_len);
    const uint32_t p = br.get(fc.w_pos);
    if (p & fc.pos_flag) break;
    const uint32_t s = end + p;
    g = br.get(fc.w_len);
    const uint32_t e = s + (g & fc.len_value);
    w[(1 + 2 * j) >> 2] |= item(1 + 2 * j, s);
    w[(2 + 2 * j) >> 2] |= item(2 + 2 * j, e);
    start = s;
    end = e;
    if (g & fc.len_flag) break;
  }
  if (j == kMaxRuns) return MoreRuns::kSeventhRun;
  if (!(g & fc.len_flag)) return MoreRuns::kFlagInLine;
  w[0] += static_cast<uint64_t>(j);  // n_runs = j + 1
  body = LineBody{Words{w[0], w[1]}, Words{w[2], w[3]}};
  return MoreRuns::kLineEnd;
}

// Decodes the codes of one loaded frame into the line buffer: a flagged position field is the
// frame's end (value 0) or a repetition of the saved line, any other begins a line with runs.
// Returns kNextFrame at the frame's end code when the frame is sound, else the block's result
// (after its message).
template <typename Clock>
[[gnu::always_inline]] inline BlockResult decode_frame(Diag& diag, const FrameHead& h, BitReader br,
                                                       BlockCursor& cur, Clock clock, int32_t& end_offset) {
  LineRecord* const lines = cur.lines;
  const int limit = cur.limit;
  int i = cur.i;
  LineBody saved_body = cur.saved_body;
  const FieldCodes fc(h);

  BlockResult result;
  for (;;) {
    br.ensure(fc.w_pos + fc.w_len);  // the position and length fields of a line's first run
    const uint32_t f = br.get(fc.w_pos);

    if (f & fc.pos_flag) {
      const int v = static_cast<int>(f & fc.pos_value);
      if (v == 0) {
        result = end_of_frame(diag, h, br.field_start(fc.w_pos), clock.now(), end_offset);
        break;
      }
      if (i >= limit) {
        result = report_more_lines(diag, {br.field_start(fc.w_pos), clock.now(), cur.count}, i);
        break;
      }
      if (i == 0) {
        result = report_first_repetition(diag, {br.field_start(fc.w_pos), clock.now(), cur.count}, v);
        break;
      }
      // The saved line, v times, as far as the buffer goes.
      const int room = limit - i;
      const int copies = v < room ? v : room;
      put_repetitions(lines, i, copies, room, clock, saved_body);
      i += copies;
      if (copies < v) {
        result =
            report_repetition_cut(diag, {br.field_start(fc.w_pos), clock.now(), cur.count}, i, copies, v);
        break;
      }
      continue;
    }

    if (i >= limit) {
      result = report_more_lines(diag, {br.field_start(fc.w_pos), clock.now(), cur.count}, i);
      break;
    }
    // A line with runs: the first placed from base, each later one from the end of the one
    // before. Positions keep their 16 low bits, as the line record stores them.
    uint32_t start = fc.base + f;
    const uint32_t g = br.get(fc.w_len);
    uint32_t end = start + (g & fc.len_value);
    const uint64_t w0 = item(0, 1) | item(1, start) | item(2, end);
    LineBody body{Words{w0, 0}, Words{0, 0}};
    if (!(g & fc.len_flag)) [[unlikely]] {
      int j = 0;
      const MoreRuns more = read_more_runs(br, fc, w0, start, end, j, body);
      if (more == MoreRuns::kSeventhRun) {
        result = report_seventh_run(diag, br.field_start(fc.w_len), clock.now());
        break;
      }
      if (more == MoreRuns::kFlagInLine) {
        result =
            report_flag_in_line(diag, {br.field_start(fc.w_pos), clock.now(), cur.count}, start, end, i, j);
        break;
      }
    }
    put_line(lines + i, clock.take(), body);
    saved_body = body;
    ++i;
  }
  cur.i = i;
  cur.saved_body = saved_body;
  return result;
}

// Decodes the frames of a block whose count is already read.
BlockResult decode_frames(Decoder& dec, Diag& diag, const uint8_t* payload, int32_t len, BlockCursor& cur) {
  int32_t at = kLineCountSize;  // payload offset of the next frame
  while (cur.i < cur.count) {
    if (cur.i >= cur.limit) {
      errf(diag, kMoreLines, cur.i, cur.count);
      return BlockResult::kUsable;
    }
    FrameHead h;
    BitReader br;
    BlockResult r = read_frame_head(diag, payload, len, at, br, h);
    if (r != BlockResult::kNextFrame) return r;
    const int first = cur.i;
    if (std::fabs(h.y) <= kWholeClockLimit && static_cast<double>(static_cast<int64_t>(h.y)) == h.y) {
      const auto y0 = static_cast<int64_t>(h.y);
      r = decode_frame(diag, h, br, cur, WholeClock{y0}, dec.end_offset);
      // The frame's lines are y0, y0 + 1, ...: they rise, and the block goes on rising when the
      // first of them exceeds the line before the frame.
      if (cur.i > first) {
        if (first > 0 && !(static_cast<double>(y0) > cur.last_y)) cur.rising = false;
        cur.last_y = static_cast<double>(y0 + (cur.i - first - 1));
      }
    } else {
      r = decode_frame(diag, h, br, cur, StepClock{h.y}, dec.end_offset);
      if (cur.i > first) cur.rising = false;  // adding 1 may round to the same number
    }
    dec.lines_rise = cur.rising;
    if (r != BlockResult::kNextFrame) return r;
  }
  return BlockResult::kUsable;
}

}  // namespace

bool decode_line_block(Decoder& dec, Diag& diag, const uint8_t* payload, int32_t len, int16_t* n_lin) {
  if (len < kLineCountSize) {
    *n_lin = 0;
    return short_read(diag, kShortCountTag) == BlockResult::kUsable;
  }
  const int16_t count = get_i16(payload);
  if (count <= 0) {
    *n_lin = 0;
    errf(diag, kNoLines);
    return false;
  }
  *n_lin = count;
  hprintf(diag, "decmpr: *n_lin=%d\n", count);

  dec.lines_rise = true;
  BlockCursor cur{dec.line_buf, count, count < kLineBufLines ? count : kLineBufLines, 0, {}, true, 0.0};
  return decode_frames(dec, diag, payload, len, cur) == BlockResult::kUsable;
}

}  // namespace quorda
