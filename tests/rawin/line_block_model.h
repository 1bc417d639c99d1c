// Test support: a plain model of the line-block decoder, written field by field with a 16-bit
// word reader and no care for speed, against which the fast decoder is compared on random and
// damaged blocks (outcome, every message, every usable line, the reader's final byte offset).
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "format/line_record.h"

namespace quorda::testing {

struct ModelOutcome {
  int result = 0;
  int16_t n_lin = 0;
  std::string err;
  std::vector<LineRecord> lines;  // the usable lines when the result is 1
  int32_t byte_offset = 0;        // the reader's offset after the last field read
};

class LineBlockModel {
 public:
  ModelOutcome decode(const std::vector<uint8_t>& p) {
    out_ = ModelOutcome{};
    lines_.assign(kLines, LineRecord{});
    out_.result = run(p);
    out_.byte_offset = off_;
    if (out_.result == 1) {
      int used = out_.n_lin < kLines ? out_.n_lin : kLines;
      out_.lines.assign(lines_.begin(), lines_.begin() + used);
    }
    return out_;
  }

 private:
  static constexpr int kLines = 2000;
  static constexpr int kBuf = 16383;

  void say(const char* f, ...) __attribute__((format(printf, 2, 3))) {
    char buf[512];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    out_.err += buf;
  }

  int short_read(const char* tag) {
    out_.err += std::string(tag) + ": " + std::strerror(ENODATA) + "\n";
    return 0;
  }

  // The 16-bit word at byte offset off_ of the frame: zero past the frame's bytes; a word not
  // wholly inside the 16383-byte buffer is not read at all.
  uint32_t word() {
    if (off_ + 2 > kBuf) {
      overflow_ = true;
      return 0;
    }
    uint32_t lo = off_ < len_ ? frame_[static_cast<size_t>(off_)] : 0;
    uint32_t hi = off_ + 1 < len_ ? frame_[static_cast<size_t>(off_) + 1] : 0;
    off_ += 2;
    return lo | hi << 8;
  }

  void get(int w, int* value, bool* flag) {
    if (pos_ >= 16) {
      window_ = (window_ >> 16) | (word() << 16);
      pos_ -= 16;
    }
    uint32_t s = window_ >> pos_;
    *value = static_cast<int>(s & ((1u << (w - 1)) - 1u));
    *flag = ((s >> (w - 1)) & 1u) != 0;
    pos_ += w;
  }

  int beyond(double y) {
    say("decmpr: frame read beyond its %d-byte buffer y_count=%lf, block skipped \n", kBuf, y);
    return 0;
  }

  int run(const std::vector<uint8_t>& p) {
    const int32_t len = static_cast<int32_t>(p.size());
    if (len < 2) return short_read("decmpr01");
    const int16_t count = get_i16(p.data());
    if (count <= 0) {
      say(" decmpr failed, block skipped \n");
      return 0;
    }
    out_.n_lin = count;
    const int limit = count < kLines ? count : kLines;
    int i = 0;
    int32_t at = 2;
    LineRecord saved{};
    while (i < count) {
      if (i >= limit) {
        say("decmpr: i=%d n_lin=%d \n", i, count);
        return 1;
      }
      if (len - at < 4) return short_read("decmpr02");
      const uint32_t fw = get_u32(&p[static_cast<size_t>(at)]);
      if (len - at < 12) return short_read("decmpr03");
      double y = get_f64(&p[static_cast<size_t>(at) + 4]);
      len_ = static_cast<int32_t>(fw & 0x3FFF);
      const int base = static_cast<int>(fw >> 14 & 0x3FF);
      const int w_len = static_cast<int>(fw >> 24 & 0xF);
      const int w_pos = static_cast<int>(fw >> 28 & 0xF);
      if (len_ < 12) {
        say("decmpr: frame length %d shorter than its head y_count=%lf, block skipped \n", len_, y);
        return 0;
      }
      if (w_pos == 0 || w_len == 0) {
        say("decmpr: field width 0 (w_pos=%d w_len=%d) y_count=%lf, block skipped \n", w_pos, w_len, y);
        return 0;
      }
      if (len - at < len_) return short_read("decmpr04");
      frame_.assign(p.begin() + at, p.begin() + at + len_);
      at += len_;
      window_ = 0;
      pos_ = 32;
      off_ = 12;
      overflow_ = false;
      for (;;) {
        int v;
        bool f;
        get(w_pos, &v, &f);
        if (f && v == 0) {
          if (overflow_) return beyond(y);
          if (off_ < len_) {
            say("wrong end of frame: diff =%d y_count=%lf !!!\n", off_ - len_, y);
            return 0;
          }
          break;
        }
        if (i >= limit) {
          if (overflow_) return beyond(y);
          say("decmpr: i=%d n_lin=%d \n", i, count);
          return 1;
        }
        if (f) {
          if (i == 0) {
            if (overflow_) return beyond(y);
            say("y_count=%lf\n", y);
            say("repet found : i=%d light=%d n_lin=%d \n", i, v, count);
            say("error 02 \n");
            return 0;
          }
          for (int k = 0; k < v; ++k) {
            if (i >= limit) {
              if (overflow_) return beyond(y);
              say("i=%d k=%d light=%d n_lin=%d \n", i, k, v, count);
              say("decmpr: i=%d \n", i);
              return 1;
            }
            LineRecord& r = lines_[static_cast<size_t>(i)];
            r = saved;
            r.y_count = y;
            y += 1;
            ++i;
          }
          continue;
        }
        LineRecord r{};
        r.y_count = y;
        int j = 0;
        int l;
        bool g;
        r.runs[0].start = static_cast<int16_t>(base + v);
        get(w_len, &l, &g);
        r.runs[0].end = static_cast<int16_t>(r.runs[0].start + l);
        while (!g) {
          ++j;
          if (j == 6) {
            if (overflow_) return beyond(y);
            say("j=%d\n", j);
            return 0;
          }
          get(w_pos, &v, &f);
          if (f) {
            if (overflow_) return beyond(y);
            say("y_count=%lf\n", y);
            say(" %3d-%3d\n", r.runs[j - 1].start, r.runs[j - 1].end);
            say("err.01: n_lin=%d i=%d j=%d \n", count, i, j);
            return 0;
          }
          r.runs[j].start = static_cast<int16_t>(r.runs[j - 1].end + v);
          get(w_len, &l, &g);
          r.runs[j].end = static_cast<int16_t>(r.runs[j].start + l);
        }
        r.n_runs = static_cast<int16_t>(j + 1);
        lines_[static_cast<size_t>(i)] = r;
        saved = r;
        y += 1;
        ++i;
      }
    }
    return 1;
  }

  ModelOutcome out_;
  std::vector<LineRecord> lines_;
  std::vector<uint8_t> frame_;
  int32_t len_ = 0;
  uint32_t window_ = 0;
  int pos_ = 32;
  int32_t off_ = 12;
  bool overflow_ = false;
};

}  // namespace quorda::testing
