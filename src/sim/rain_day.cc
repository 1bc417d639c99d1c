// The simulated rain day: drop generation, line rendering, blocks and raw records.
#include "sim/rain_day.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/raw_record.h"
#include "sim/line_encoder.h"
#include "sim/line_mixer.h"
#include "sim/sim_random.h"

namespace quorda::sim {
namespace {

// Drops are generated while their arrival lies less than this many lines after the line being
// rendered. No drop shadows a line more than a few dozen lines before its centre crosses camera
// A's plane, so this is ample.
constexpr int64_t kLeadLines = 2000;
constexpr int16_t kStatusKind = 7;
constexpr size_t kStatusPayload = 16;
constexpr int kMaxLaterHeaders = 60;  // the converter takes fewer than 100 main headers a run
constexpr size_t kFlushBytes = 1 << 20;

using Pending = std::priority_queue<std::pair<int64_t, uint64_t>, std::vector<std::pair<int64_t, uint64_t>>,
                                    std::greater<>>;

class DayRenderer {
 public:
  DayRenderer(const DayConfig& cfg, ByteSink& raw, TruthSink& truth, BlockObserver* observer)
      : cfg_(cfg),
        raw_(raw),
        truth_(truth),
        observer_(observer),
        rng_(cfg.seed),
        sizes_(cfg.rain, fall_area_m2(cfg)),
        ring_(1024) {
    drop_rate_ = sizes_.rate();
    total_rate_ = drop_rate_ + std::max(0.0, cfg.clutter_rate);
    next_arrival_ = cfg.rain_start;
    restart_pending_ = cfg.gap_end > cfg.gap_start;
    advance_arrival();
    out_.reserve(2 * kFlushBytes);
    for (auto& b : block_) b.reserve(static_cast<size_t>(cfg.block_hard_lines) + 1);
    scratch_.reserve(64);
  }

  DayStats run() {
    const double fr = cfg_.inst.line_fr;
    put_header(cfg_.header_second);
    next_header_ = cfg_.header_every > 0 ? cfg_.header_second + cfg_.header_every : -1;
    next_status_ = cfg_.status_every > 0 ? cfg_.rain_start : -1;
    const int64_t slice = cfg_.slice_lines;
    int64_t slice_end = (static_cast<int64_t>(std::floor(cfg_.rain_start * fr)) / slice + 1) * slice;
    while (!(done_[0] && done_[1])) {
      const double slice_start_s = static_cast<double>(slice_end - slice) / fr;
      put_headers_until(slice_start_s);
      while (next_status_ >= 0 && next_status_ <= slice_start_s && next_status_ < cfg_.rain_end) {
        if (!in_gap(next_status_)) put_status(next_status_);
        next_status_ += cfg_.status_every;
      }
      for (int cam = 0; cam < 2; ++cam) {
        if (done_[cam]) continue;
        fill_block(cam, slice_end);
        if (!block_[cam].empty()) write_block(cam);
      }
      retire(false);
      // Skip the slices in which neither camera has anything to show.
      int64_t next = INT64_MAX;
      for (int cam = 0; cam < 2; ++cam)
        if (!done_[cam]) next = std::min(next, y_[cam]);
      slice_end += slice;
      if (next != INT64_MAX) slice_end = std::max(slice_end, (next / slice + 1) * slice);
    }
    retire(true);
    flush();
    return stats_;
  }

 private:
  SimDrop& drop(uint64_t id) { return ring_[id & (ring_.size() - 1)]; }

  bool in_gap(double second) const { return second >= cfg_.gap_start && second < cfg_.gap_end; }

  // The later main headers due by `second`, in order: the regular ones outside the recording gap
  // and the one that starts the recording again after it.
  void put_headers_until(double second) {
    constexpr double kNever = 1e300;
    for (;;) {
      const double regular = next_header_ >= 0 && later_headers_ < kMaxLaterHeaders ? next_header_ : kNever;
      const double restart = restart_pending_ ? cfg_.gap_end : kNever;
      const double t = std::min(regular, restart);
      if (t > second) return;
      if (restart <= regular) {
        put_header(restart);
        restart_pending_ = false;
        if (regular == restart) next_header_ += cfg_.header_every;
        continue;
      }
      if (!in_gap(regular)) {
        put_header(regular);
        ++later_headers_;
      }
      next_header_ += cfg_.header_every;
    }
  }

  void advance_arrival() {
    if (total_rate_ <= 0) {
      next_arrival_ = cfg_.rain_end;
      return;
    }
    next_arrival_ += rng_.exponential() / total_rate_;
    // Arrivals are memoryless: the time past the gap's start is that past its end.
    if (in_gap(next_arrival_)) next_arrival_ = cfg_.gap_end + (next_arrival_ - cfg_.gap_start);
  }
  bool exhausted() const { return next_arrival_ >= cfg_.rain_end; }
  int64_t arrival_line() const { return static_cast<int64_t>(std::floor(next_arrival_ * cfg_.inst.line_fr)); }

  void generate_until(int64_t y) {
    while (!exhausted() && arrival_line() <= y + kLeadLines) generate();
  }

  void generate() {
    if (next_id_ - head_id_ == ring_.size()) grow();
    SimDrop& d = drop(next_id_);
    d = SimDrop{};
    d.id = next_id_++;
    d.t_a = next_arrival_;
    const double c = cfg_.inst.centre_pix;
    const bool clutter = rng_.uniform() * total_rate_ >= drop_rate_;
    if (!clutter) {
      d.kind = ParticleKind::kDrop;
      d.diam = sizes_.diameter(rng_.uniform());
      d.ratio = axis_ratio(d.diam);
      const double scatter = std::clamp(1.0 + cfg_.speed_scatter * rng_.normal(), 0.5, 1.5);
      d.speed = fall_speed(d.diam) * scatter;
      ++stats_.drops;
    } else {
      d.kind = ParticleKind::kClutter;
      const int mask = cfg_.clutter_cameras & 3 ? cfg_.clutter_cameras & 3 : 2;
      const int cam = mask == 3 ? static_cast<int>(rng_.integer(0, 1)) : (mask == 1 ? 0 : 1);
      d.seen[0] = cam == 0;
      d.seen[1] = cam == 1;
      d.speed = rng_.uniform(0.3, 1.0);
      // Lasts 2 to 8 lines.
      d.diam = static_cast<double>(rng_.integer(2, 8)) / cfg_.inst.line_fr * d.speed * 1000.0;
      d.ratio = 1.0;
      ++stats_.clutter;
    }
    const double reach = c + cfg_.margin_px;
    d.ca = rng_.uniform(-reach, reach);
    d.cb = rng_.uniform(-reach, reach);
    place_drop(cfg_.inst, d);
    for (int cam = 0; cam < 2; ++cam)
      if (d.seen[cam]) pending_[cam].push({d.span_first[cam], d.id});
    advance_arrival();
  }

  void grow() {
    std::vector<SimDrop> bigger(ring_.size() * 2);
    const size_t mask = bigger.size() - 1;
    for (uint64_t id = head_id_; id < next_id_; ++id) bigger[id & mask] = drop(id);
    for (auto& owners : prev_owners_)
      for (SimDrop*& o : owners)
        if (o != nullptr) o = &bigger[o->id & mask];
    ring_.swap(bigger);
  }

  // Renders camera cam from its next line on until its block for the slice ending at slice_end is
  // complete; the block is left in block_[cam].
  void fill_block(int cam, int64_t slice_end) {
    auto& block = block_[cam];
    auto& active = active_[cam];
    auto& pending = pending_[cam];
    int64_t& y = y_[cam];
    block.clear();
    for (;;) {
      generate_until(y);
      if (active.empty()) {
        // A line without shadow: the block may end here.
        if (y >= slice_end || static_cast<int>(block.size()) >= cfg_.block_lines) return;
        // The next line that may be shadowed: the first pending particle, or the earliest line a
        // particle not yet generated can reach.
        int64_t next = INT64_MAX;
        if (!pending.empty()) next = pending.top().first;
        if (!exhausted()) next = std::min(next, arrival_line() - kLeadLines);
        if (next == INT64_MAX) {
          done_[cam] = true;
          return;
        }
        if (next > y) {
          y = next;
          if (y >= slice_end) return;
          continue;  // generate up to the new line first
        }
      }
      while (!pending.empty() && pending.top().first <= y) {
        active.push_back(pending.top().second);
        pending.pop();
      }
      if (active.empty()) continue;
      render_line(cam, y);
      ++y;
      if (static_cast<int>(block.size()) >= cfg_.block_hard_lines) {
        for (uint64_t id : active) {
          drop(id).cut = true;
        }
        return;
      }
    }
  }

  void render_line(int cam, int64_t y) {
    auto& active = active_[cam];
    scratch_.clear();
    for (size_t i = 0; i < active.size();) {
      SimDrop& d = drop(active[i]);
      Run r;
      bool clipped = false;
      if (drop_run_at(cfg_.inst, d, cam, y, &r, &clipped)) {
        scratch_.push_back({r, &d});
        if (clipped) d.edge = true;
        if (d.first_line[cam] < 0) {
          d.first_line[cam] = y;
        } else {
          d.width[cam] = std::max<int16_t>(d.width[cam], static_cast<int16_t>(r.end - r.start));
        }
        d.last_line[cam] = y;
        ++d.lines[cam];
        d.x_min[cam] = std::min(d.x_min[cam], r.start);
        d.x_max[cam] = std::max(d.x_max[cam], r.end);
      }
      if (y >= d.span_last[cam]) {
        active[i] = active.back();
        active.pop_back();
      } else {
        ++i;
      }
    }
    if (scratch_.empty()) return;
    LineRecord line;
    SimDrop* owners[kMaxRuns] = {};
    mix_line(scratch_.data(), static_cast<int>(scratch_.size()), &line, owners);
    line.y_count = static_cast<double>(y);
    if (prev_y_[cam] == y - 1) mark_touching(prev_line_[cam], prev_owners_[cam], line, owners);
    prev_line_[cam] = line;
    std::copy(owners, owners + kMaxRuns, prev_owners_[cam]);
    prev_y_[cam] = y;
    block_[cam].push_back(line);
  }

  void write_block(int cam) {
    const auto& block = block_[cam];
    if (observer_ != nullptr) observer_->block(cam, block);
    const auto payloads = encode_line_blocks(block);
    for (const auto& p : payloads) {
      append_record(out_, static_cast<int16_t>(cam == 0 ? kKindLinesA : kKindLinesB), p);
      ++stats_.blocks[cam];
    }
    stats_.lines[cam] += block.size();
    if (cam == 0) {
      if (stats_.first_line < 0) stats_.first_line = static_cast<int64_t>(block.front().y_count);
      stats_.last_line = static_cast<int64_t>(block.back().y_count);
    }
    if (out_.size() >= kFlushBytes) flush();
  }

  void put_header(double second) {
    append_main_header_record(out_, day_header(cfg_, second));
    ++stats_.headers;
  }

  void put_status(double second) {
    uint8_t p[kStatusPayload] = {};
    put_f64(p, second);
    put_u32(p + 8, static_cast<uint32_t>(stats_.status_records));
    append_record(out_, kStatusKind, std::span<const uint8_t>(p, kStatusPayload));
    ++stats_.status_records;
  }

  // Hands over the particles that both cameras have passed (all of them at the end).
  void retire(bool all) {
    while (head_id_ < next_id_) {
      SimDrop& d = drop(head_id_);
      if (!all) {
        bool passed = true;
        for (int cam = 0; cam < 2; ++cam)
          if (d.seen[cam] && y_[cam] <= d.span_last[cam] + 1 && !done_[cam]) passed = false;
        if (!passed) return;
      }
      if (d.merged) ++stats_.merged;
      if (d.cut) ++stats_.cut;
      truth_.particle(d);
      ++head_id_;
    }
  }

  void flush() {
    if (out_.empty()) return;
    raw_.write(out_.data(), out_.size());
    stats_.raw_bytes += out_.size();
    out_.clear();
  }

  const DayConfig& cfg_;
  ByteSink& raw_;
  TruthSink& truth_;
  BlockObserver* observer_;
  SimRandom rng_;
  DropSizeSampler sizes_;
  double drop_rate_ = 0, total_rate_ = 0;
  double next_arrival_ = 0;
  double next_header_ = -1, next_status_ = -1;
  int later_headers_ = 0;
  bool restart_pending_ = false;

  std::vector<SimDrop> ring_;  // live particles by id, size a power of two
  uint64_t head_id_ = 0, next_id_ = 0;

  Pending pending_[2];
  std::vector<uint64_t> active_[2];
  int64_t y_[2] = {0, 0};
  bool done_[2] = {false, false};
  std::vector<LineRecord> block_[2];
  std::vector<OwnedRun> scratch_;
  LineRecord prev_line_[2];
  SimDrop* prev_owners_[2][kMaxRuns] = {};
  int64_t prev_y_[2] = {-2, -2};

  std::vector<uint8_t> out_;
  DayStats stats_;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int64_t midnight_seconds(int year, int day_of_year) {
  return (days_from_civil(year, 1, 1) + day_of_year - 1) * 86400;
}

RawMainHeader day_header(const DayConfig& cfg, double second) {
  RawMainHeader h;
  h.line_fr = cfg.inst.line_fr;
  h.centre_pix = static_cast<int16_t>(cfg.inst.centre_pix);
  h.gate1 = 1;
  h.gate2 = static_cast<int16_t>(cfg.inst.pixels() - 2);
  h.hbl = static_cast<float>(cfg.inst.hbl);
  h.hbr = static_cast<float>(cfg.inst.hbr);
  h.hfr = static_cast<float>(cfg.inst.hfr);
  h.xscale0_1 = static_cast<float>(cfg.inst.xs1);
  h.xscale0_2 = static_cast<float>(cfg.inst.xs2);
  h.l0_1 = static_cast<float>(cfg.inst.l1);
  h.l0_2 = static_cast<float>(cfg.inst.l2);
  h.ratio_den = 100;
  h.ratio_num = 100;
  h.valid_since =
      static_cast<uint32_t>(midnight_seconds(cfg.year, cfg.day_of_year) + static_cast<int64_t>(second));
  return h;
}

double area_m2(const SimInstrument& inst) {
  return inst.pixels() * inst.xs1 * 1e-3 * inst.pixels() * inst.xs2 * 1e-3;
}

double fall_area_m2(const DayConfig& cfg) {
  if (cfg.margin_px <= 0) return area_m2(cfg.inst);
  const double widen = (cfg.inst.centre_pix + cfg.margin_px) / cfg.inst.centre_pix;
  return area_m2(cfg.inst) * widen * widen;
}

DayStats simulate_day(const DayConfig& cfg, ByteSink& raw, TruthSink& truth, BlockObserver* observer) {
  DayRenderer r(cfg, raw, truth, observer);
  return r.run();
}

}  // namespace quorda::sim
