// Line-data decompression: the frames of one line block payload into the decoder's line buffer.
//
// The hot loop keeps the bit reader, the line index and the line number in local variables; the
// decoder's state in the run context (the bit reader, the saved line) is written back once when
// the block is done. The saved line is kept as the index of the last coded line in the line
// buffer, since lines already decoded are never rewritten within one block.
#include "rawin/decmpr.h"

#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "base/constants.h"
#include "base/trace.h"
#include "format/line_block_format.h"
#include "rawin/bit_reader.h"
#include "rawin/rawin_run.h"

namespace quorda {
namespace {

using namespace lineblock;

// The payload holds fewer bytes than the block needs: the tag is reported with ENODATA as the
// reason (no system call failed; the record framing handed over a shorter payload) and the
// block is rejected.
int short_read(Diag& diag, const char* tag) {
  errno = ENODATA;
  report_tag(diag, tag);
  return 0;
}

// A word fetched beyond the frame buffer means the frame is damaged: whatever the fields read
// since then said, the block is rejected.
int beyond_buffer(Diag& diag, double y) {
  errf(diag, "decmpr: frame read beyond its %d-byte buffer y_count=%lf, block skipped \n", kFrameBufSize, y);
  return 0;
}

// Decodes the frames of a block whose count is already read. The bit reader and the index of
// the saved line are the caller's, so that it can keep them in the run context afterwards; the
// function is inlined so that they live in registers while it runs.
[[gnu::always_inline]] inline int decode_frames(LineRecord* lines, uint8_t* frame_buf, Diag& diag,
                                                const uint8_t* payload, int32_t len, int16_t count,
                                                BitReader& br, int& saved) {
  // A block announcing more than the line buffer holds is cut to its first kLineBufLines lines.
  const int limit = count < kLineBufLines ? count : kLineBufLines;
  int i = 0;
  double y = 0;
  int32_t at = kLineCountSize;  // payload offset of the next frame

  while (i < count) {
    if (i >= limit) {
      errf(diag, "decmpr: i=%d n_lin=%d \n", i, count);
      return 1;
    }
    if (len - at < kFrameWordSize) return short_read(diag, "decmpr02");
    const uint32_t word = get_u32(payload + at);
    if (len - at < kFrameHeadSize) return short_read(diag, "decmpr03");
    y = get_f64(payload + at + kFrameYCountOffset);
    const int32_t frame_len = static_cast<int32_t>(word & kFrameLenMask);
    const int base = static_cast<int>((word >> kBaseShift) & kBaseMask);
    const int w_len = static_cast<int>((word >> kWLenShift) & kWidthMask);
    const int w_pos = static_cast<int>((word >> kWPosShift) & kWidthMask);
    if (frame_len < kFrameHeadSize) {
      errf(diag, "decmpr: frame length %d shorter than its head y_count=%lf, block skipped \n", frame_len, y);
      return 0;
    }
    if (w_pos == 0 || w_len == 0) {
      errf(diag, "decmpr: field width 0 (w_pos=%d w_len=%d) y_count=%lf, block skipped \n", w_pos, w_len, y);
      return 0;
    }
    if (len - at < frame_len) return short_read(diag, "decmpr04");
    std::memcpy(frame_buf, payload + at, static_cast<size_t>(frame_len));
    at += frame_len;
    br.reset(frame_buf, kFrameBufSize, frame_len);

    const int pos_flag_bit = w_pos - 1;
    const uint32_t pos_value = (1u << pos_flag_bit) - 1u;
    const int len_flag_bit = w_len - 1;
    const uint32_t len_value = (1u << len_flag_bit) - 1u;

    for (;;) {
      uint32_t f = br.get(w_pos);
      const int v = static_cast<int>(f & pos_value);
      const bool flagged = (f >> pos_flag_bit) != 0;

      if (flagged && v == 0) {  // end of frame
        if (br.overflowed()) return beyond_buffer(diag, y);
        if (br.byte_offset() < frame_len) {
          errf(diag, "wrong end of frame: diff =%d y_count=%lf !!!\n", br.byte_offset() - frame_len, y);
          return 0;
        }
        break;
      }
      if (i >= limit) {
        if (br.overflowed()) return beyond_buffer(diag, y);
        errf(diag, "decmpr: i=%d n_lin=%d \n", i, count);
        return 1;
      }

      if (flagged) {  // repetition of the saved line, v times
        if (i == 0) {
          lines[0] = LineRecord{};
          lines[0].y_count = y;
          if (br.overflowed()) return beyond_buffer(diag, y);
          errf(diag, "y_count=%lf\n", y);
          errf(diag, "repet found : i=%d light=%d n_lin=%d \n", i, v, count);
          errf(diag, "error 02 \n");
          return 0;
        }
        // i > 0 means line 0 was coded with runs, so `saved` names a line of this block.
        const LineRecord src = lines[saved];  // a copy: the stores below cannot touch it
        const int room = limit - i;
        const int copies = v < room ? v : room;
        for (int k = 0; k < copies; ++k) {
          lines[i + k] = src;
          lines[i + k].y_count = y;
          y += 1;
        }
        i += copies;
        if (copies < v) {
          if (br.overflowed()) return beyond_buffer(diag, y);
          errf(diag, "i=%d k=%d light=%d n_lin=%d \n", i, copies, v, count);
          errf(diag, "decmpr: i=%d \n", i);
          return 1;
        }
        continue;
      }

      // A line with runs: the first run placed from base, each later one from the end of the run
      // before it. Positions are 16-bit as the line record stores them.
      LineRecord& rec = lines[i];
      rec.y_count = y;
      for (Run& r : rec.runs) r = Run{};
      int j = 0;
      int16_t start = static_cast<int16_t>(base + v);
      uint32_t g = br.get(w_len);
      rec.runs[0].start = start;
      rec.runs[0].end = static_cast<int16_t>(start + static_cast<int>(g & len_value));
      while ((g >> len_flag_bit) == 0) {
        ++j;
        if (j == kMaxRuns) {
          if (br.overflowed()) return beyond_buffer(diag, y);
          errf(diag, "j=%d\n", j);
          return 0;
        }
        f = br.get(w_pos);
        if ((f >> pos_flag_bit) != 0) {
          if (br.overflowed()) return beyond_buffer(diag, y);
          errf(diag, "y_count=%lf\n", y);
          errf(diag, " %3d-%3d\n", rec.runs[j - 1].start, rec.runs[j - 1].end);
          errf(diag, "err.01: n_lin=%d i=%d j=%d \n", count, i, j);
          return 0;
        }
        start = static_cast<int16_t>(rec.runs[j - 1].end + static_cast<int>(f & pos_value));
        g = br.get(w_len);
        rec.runs[j].start = start;
        rec.runs[j].end = static_cast<int16_t>(start + static_cast<int>(g & len_value));
      }
      rec.n_runs = static_cast<int16_t>(j + 1);
      saved = i;
      y += 1;
      ++i;
    }
  }
  return 1;
}

}  // namespace

int decmpr(const RawinRun& ctx, const uint8_t* payload, int32_t len, int16_t* n_lin) {
  Decoder& dec = ctx.dec;
  Diag& diag = ctx.diag;
  if (len < kLineCountSize) {
    *n_lin = 0;
    return short_read(diag, "decmpr01");
  }
  const int16_t count = get_i16(payload);
  if (count <= 0) {
    *n_lin = 0;
    errf(diag, " decmpr failed, block skipped \n");
    return 0;
  }
  *n_lin = count;
  hprintf(diag, "decmpr: *n_lin=%d\n", count);

  BitReader br;
  br.reset(dec.frame_buf, kFrameBufSize, 0);
  int saved = -1;  // index of the last line coded with runs
  const int result = decode_frames(dec.line_buf, dec.frame_buf, diag, payload, len, count, br, saved);
  dec.reader = br;
  dec.saved_line = saved >= 0 ? dec.line_buf[saved] : LineRecord{};
  return result;
}

}  // namespace quorda
