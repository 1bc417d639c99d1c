// The measuring thread: the ring's slots filled by the day driver and worked off by the writer, the
// drain that hands the shared state back to the day driver, and the writer's failure carried over
// to the day driver's thread.
#include "app/measuring_thread.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/bytes.h"
#include "base/run_end.h"
#include "base/stream_copy.h"
#include "base/trace.h"
#include "measure/pack_particle.h"

namespace quorda {

int run_threads(const char* setting) {
  if constexpr (kTraceMain || kTraceQueue) return 1;
  if (setting != nullptr) {
    const std::string_view s(setting);
    if (s == "1") return 1;
    if (s == "2") return 2;
  }
  return usable_processors() >= 2 ? 2 : 1;
}

// The writer's clock: the day driver's last reading.
class MeasuringThread::RelayedClock final : public Clock {
 public:
  int64_t now() override { return now_; }

  void set(int64_t now) { now_ = now; }

 private:
  int64_t now_ = 0;
};

MeasuringThread::MeasuringThread(ParticleWriter& writer, const OutputSet& out, Diag& diag, Clock& clock,
                                 const MinuteIndex& minutes, const QuietMeasure& ahead)
    : writer_(writer),
      out_(out),
      diag_(diag),
      driver_clock_(clock),
      driver_minutes_(minutes),
      ahead_(ahead) {}

MeasuringThread::~MeasuringThread() {
  stop();
}

void MeasuringThread::begin(int threads, const MinuteIndex& minutes, int64_t now) {
  if (clock_ != nullptr) return;
  clock_ = std::make_unique<RelayedClock>();
  clock_->set(now);
  clock_sent_ = now;
  if (threads <= 1) {
    writer_.read_from(*clock_, driver_minutes_);
    return;
  }
  minutes_ = minutes;
  hyd_length_.store(out_.hyd_end, std::memory_order_relaxed);
  writer_.read_from(*clock_, minutes_);
  failure_ = nullptr;
  cancelled_.store(false, std::memory_order_relaxed);
  ring_ = std::make_unique<HandoffRing<WriterChunk>>(kRingChunks, kWakeChunks);
  open_ = nullptr;
  diag_.gate = this;
  thread_ = std::thread([this] { work(); });
  writer_id_ = thread_.get_id();
}

namespace {

// What the writer reads of a piece, and the piece it measures again from that and its runs in a
// chunk (which it only reads).
PieceShape shape_of(const Piece& p) {
  return PieceShape{p.x_min, p.x_max, p.width, p.line_no, p.last_line, p.first_line};
}

Piece piece_from(const PieceShape& shape, const Run* runs) {
  Piece p;
  p.x_min = shape.x_min;
  p.x_max = shape.x_max;
  p.width = shape.width;
  p.line_no = shape.line_no;
  p.last_line = shape.last_line;
  p.first_line = shape.first_line;
  p.runs = const_cast<Run*>(runs);
  return p;
}

}  // namespace

void MeasuringThread::take(const Piece& a, const Piece& b) {
  if (!running()) {
    writer_.add(a, b);
    return;
  }
  if (packing_ && take_packed(a, b)) return;
  const int na = std::clamp<int>(a.line_no, 0, MAXLIN);
  const int nb = std::clamp<int>(b.line_no, 0, MAXLIN);
  WriterItem& it = append(na + nb);
  WriterItem item{};
  item.kind = WriterItem::Kind::kPair;
  item.pair.a = shape_of(a);
  item.pair.b = shape_of(b);
  item.pair.runs_at = open_->n_runs;
  stream_copy(&it, &item, sizeof item);
  Run* runs = open_->runs + open_->n_runs;
  stream_copy(runs, a.runs, sizeof(Run) * static_cast<size_t>(na));
  stream_copy(runs + na, b.runs, sizeof(Run) * static_cast<size_t>(nb));
  open_->n_runs += na + nb;
}

// Packs the pair here and hands over its record and line of "res"; false (nothing handed over)
// when packing it would give a message.
bool MeasuringThread::take_packed(const Piece& a, const Piece& b) {
  size_t text_len = 0;
  if (!pack_particle_quietly(ahead_, a, b, ahead_words_, ahead_head_, ahead_text_, text_len)) return false;
  const int length = get_u16(ahead_head_ + pixhead::kLenBits) & kLenMask;
  const int words = (length - static_cast<int>(kPixHeadSize)) / 2;
  // Both copies are made in whole 4-byte units, so that each begins 4-byte aligned.
  const int words_copied = (words + 1) & ~1;
  const int text_copied = (static_cast<int>(text_len) + 3) & ~3;
  WriterItem& it = append(0, words_copied, text_copied);
  WriterItem item{};
  item.kind = WriterItem::Kind::kPacked;
  std::memcpy(item.packed.head, ahead_head_, kPixHeadSize);
  item.packed.words_at = open_->n_words;
  item.packed.text_at = open_->n_text;
  item.packed.text_len = static_cast<int32_t>(text_len);
  stream_copy(&it, &item, sizeof item);
  stream_copy(open_->words + open_->n_words, ahead_words_,
              sizeof(uint16_t) * static_cast<size_t>(words_copied));
  stream_copy(open_->text + open_->n_text, ahead_text_, static_cast<size_t>(text_copied));
  open_->n_words += words_copied;
  open_->n_text += text_copied;
  return true;
}

void MeasuringThread::save(SaveKind kind) {
  if (!running()) {
    writer_.save(kind);
    return;
  }
  if (kind != SaveKind::kCommit) {
    // The save before a main header: the records of the header follow at once, on this thread.
    drain();
    writer_.save(kind);
    return;
  }
  // An idle writer is handed the timed save at once, with the pairs before it, rather than when
  // the chunk is full; a writer asleep over fewer than kWakeChunks chunks is woken for them.
  append(0).kind = WriterItem::Kind::kCommit;
  if (ring_->empty()) hand_over();
  ring_->flush();
}

void MeasuringThread::mark_minutes(Camera camera, int from, int to, int32_t pos) {
  if (!running() || from > to) return;
  WriterItem& it = append(0);
  it.kind = WriterItem::Kind::kMinutes;
  it.minutes = WriterItem::Minutes{camera, static_cast<int16_t>(from), static_cast<int16_t>(to), pos};
}

void MeasuringThread::set_clock(int64_t now) {
  if (clock_ == nullptr) return;
  if (!running()) {
    clock_->set(now);
    return;
  }
  if (now == clock_sent_) return;
  clock_sent_ = now;
  WriterItem& it = append(0);
  it.kind = WriterItem::Kind::kClock;
  it.now = now;
}

void MeasuringThread::drain() {
  if (!running()) return;
  if (open_ != nullptr) hand_over();
  if (!ring_->drain()) rethrow_failure();
}

bool MeasuringThread::drain_for(std::chrono::milliseconds timeout) {
  if (!running()) return true;
  if (open_ != nullptr) hand_over();
  switch (ring_->drain_for(timeout)) {
    case HandoffRing<WriterChunk>::Drained::kDone:
      return true;
    case HandoffRing<WriterChunk>::Drained::kTimedOut:
      return false;
    case HandoffRing<WriterChunk>::Drained::kStopped:
      break;
  }
  rethrow_failure();
}

void MeasuringThread::cancel() {
  if (!running()) return;
  cancelled_.store(true, std::memory_order_relaxed);
  drain();
}

int32_t MeasuringThread::hyd_length() const {
  return running() ? hyd_length_.load(std::memory_order_relaxed) : out_.hyd_end;
}

void MeasuringThread::stop() {
  if (!running()) {
    if (clock_ != nullptr) writer_.read_from(driver_clock_, driver_minutes_);
    clock_.reset();
    return;
  }
  // Items still open when the day driver ended without a drain: one thread would have handled
  // them before its end.
  if (open_ != nullptr) hand_over();
  ring_->drain();
  ring_->close();
  thread_.join();
  diag_.gate = nullptr;
  writer_.read_from(driver_clock_, driver_minutes_);
  ring_.reset();
  clock_.reset();
}

void MeasuringThread::before_message() {
  if (!running() || std::this_thread::get_id() == writer_id_) return;
  drain();
}

// The next item of the open chunk, with room for `runs` runs; a full chunk is handed over and the
// next one opened (waiting while the ring is full).
WriterItem& MeasuringThread::append(int runs, int words, int text) {
  if (open_ != nullptr &&
      (open_->n_items == WriterChunk::kItems || open_->n_runs + runs > WriterChunk::kRuns ||
       open_->n_words + words > WriterChunk::kWords || open_->n_text + text > WriterChunk::kText))
    hand_over();
  if (open_ == nullptr) {
    open_ = ring_->claim();
    if (open_ == nullptr) rethrow_failure();
    open_->n_items = 0;
    open_->n_runs = 0;
    open_->n_words = 0;
    open_->n_text = 0;
    packing_ = pack_ahead_ == PackAhead::kAlways ||
               (pack_ahead_ == PackAhead::kWhenBehind && ring_->waiting() >= kBehindChunks);
  }
  return open_->items[open_->n_items++];
}

void MeasuringThread::hand_over() {
  stream_fence();
  open_ = nullptr;
  ring_->publish();
}

void MeasuringThread::rethrow_failure() {
  if (failure_) std::rethrow_exception(failure_);
  end_run(kExitFatal);
}

// The measuring thread's loop: every slot in order until the ring is closed and empty.
void MeasuringThread::work() {
  try {
    while (const WriterChunk* chunk = ring_->next()) {
      for (int i = 0; i < chunk->n_items && !cancelled_.load(std::memory_order_relaxed); ++i)
        handle(*chunk, chunk->items[i]);
      hyd_length_.store(out_.hyd_end, std::memory_order_relaxed);
      ring_->release();
    }
  } catch (...) {
    failure_ = std::current_exception();
    ring_->stop();
  }
}

void MeasuringThread::handle(const WriterChunk& chunk, const WriterItem& item) {
  switch (item.kind) {
    case WriterItem::Kind::kPair: {
      const WriterItem::Pair& pair = item.pair;
      const Run* runs = chunk.runs + pair.runs_at;
      const Piece a = piece_from(pair.a, runs);
      const Piece b = piece_from(pair.b, runs + std::clamp<int>(pair.a.line_no, 0, MAXLIN));
      writer_.add(a, b);
      break;
    }
    case WriterItem::Kind::kPacked: {
      const WriterItem::Packed& packed = item.packed;
      writer_.add_packed(packed.head, chunk.words + packed.words_at, chunk.text + packed.text_at,
                         static_cast<size_t>(packed.text_len));
      break;
    }
    case WriterItem::Kind::kCommit:
      writer_.save(SaveKind::kCommit);
      break;
    case WriterItem::Kind::kMinutes: {
      const WriterItem::Minutes& e = item.minutes;
      int32_t* minute_pos = e.camera == Camera::kA ? minutes_.minute_pos_a : minutes_.minute_pos_b;
      for (int m = e.from; m <= e.to; ++m) {
        if (minute_pos[m] == 0) minute_pos[m] = e.pos;
      }
      break;
    }
    case WriterItem::Kind::kClock:
      clock_->set(item.now);
      break;
  }
}

}  // namespace quorda
