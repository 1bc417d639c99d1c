// Test support: builds raw day files from simple particles, for the driver's end-to-end tests.
//
// A particle is a stack of equal runs in consecutive lines of camera A and, some lines later, of
// camera B. The builder renders all particles into the lines of both cameras (runs of one line
// sorted and merged), groups the lines into time slices (camera A's blocks, then camera B's, for
// each slice), and places main headers and other records before the slice that holds their time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "base/constants.h"
#include "format/line_record.h"
#include "format/main_header.h"
#include "format/raw_record.h"
#include "sim/line_encoder.h"

namespace quorda::testing {

struct TestParticle {
  double y_a = 0;  // first line in camera A
  int16_t x_a = 0;
  int16_t w_a = 0;
  int lines_a = 0;
  double y_b = 0;  // first line in camera B
  int16_t x_b = 0;
  int16_t w_b = 0;
  int lines_b = 0;
};

class RawDayBuilder {
 public:
  explicit RawDayBuilder(double slice_lines = 4000) : slice_(slice_lines) {}

  // A main header placed in the stream at line time `at`.
  void header(double at, const RawMainHeader& h) {
    events_.push_back({at, kKindMainHeader, header_bytes(h)});
  }
  // A record of any kind placed at line time `at`.
  void record(double at, int16_t kind, std::vector<uint8_t> payload) {
    events_.push_back({at, kind, std::move(payload)});
  }
  void particle(const TestParticle& p) {
    for (int i = 0; i < p.lines_a; ++i)
      add_run(lines_a_, p.y_a + i, p.x_a, static_cast<int16_t>(p.x_a + p.w_a));
    for (int i = 0; i < p.lines_b; ++i)
      add_run(lines_b_, p.y_b + i, p.x_b, static_cast<int16_t>(p.x_b + p.w_b));
  }

  std::vector<uint8_t> build() const {
    std::vector<uint8_t> file;
    std::vector<Event> events = events_;
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    double last = 0;
    if (!lines_a_.empty()) last = std::max(last, lines_a_.rbegin()->first);
    if (!lines_b_.empty()) last = std::max(last, lines_b_.rbegin()->first);
    size_t next_event = 0;
    for (double from = 0; from <= last; from += slice_) {
      double to = from + slice_;
      while (next_event < events.size() && events[next_event].at < to) {
        append_record(file, events[next_event].kind, events[next_event].payload);
        ++next_event;
      }
      emit(file, lines_a_, from, to, kKindLinesA);
      emit(file, lines_b_, from, to, kKindLinesB);
    }
    for (; next_event < events.size(); ++next_event) {
      append_record(file, events[next_event].kind, events[next_event].payload);
    }
    return file;
  }

  static std::vector<uint8_t> header_bytes(const RawMainHeader& h) {
    std::vector<uint8_t> b(kRawMainHeaderSize);
    encode_raw_main_header(h, b.data());
    return b;
  }

 private:
  struct Event {
    double at;
    int16_t kind;
    std::vector<uint8_t> payload;
  };
  using Lines = std::map<double, std::vector<Run>>;

  static void add_run(Lines& lines, double y, int16_t start, int16_t end) {
    lines[y].push_back({start, end});
  }

  static void emit(std::vector<uint8_t>& file, const Lines& lines, double from, double to, int16_t kind) {
    std::vector<LineRecord> recs;
    for (auto it = lines.lower_bound(from); it != lines.end() && it->first < to; ++it) {
      std::vector<Run> runs = it->second;
      std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
      std::vector<Run> merged;
      for (const Run& r : runs) {
        if (!merged.empty() && r.start <= merged.back().end) {
          merged.back().end = std::max(merged.back().end, r.end);
        } else {
          merged.push_back(r);
        }
      }
      LineRecord rec;
      rec.y_count = it->first;
      rec.n_runs = static_cast<int16_t>(std::min<size_t>(merged.size(), kMaxRuns));
      for (int i = 0; i < rec.n_runs; ++i) rec.runs[i] = merged[static_cast<size_t>(i)];
      recs.push_back(rec);
    }
    if (recs.empty()) return;
    for (const auto& payload : encode_line_blocks(recs)) append_record(file, kind, payload);
  }

  double slice_;
  std::vector<Event> events_;
  Lines lines_a_, lines_b_;
};

}  // namespace quorda::testing
