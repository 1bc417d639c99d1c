// The measuring thread: measuring, packing, "res" and the appends and commits of the output set on a
// second thread, behind the day driver's reading, decoding and matching.
//
// What crosses: take() copies each kept pair (with its runs: the pool slots are freed as soon as it
// returns) into the open chunk of a handoff ring of kRingChunks fixed chunks, allocated when the
// thread starts. The copies are streaming stores (base/stream_copy.h): the chunk's lines go to
// memory without first being fetched back from the writer's processor, which read them last.
// When the writer has fallen kBehindChunks chunks behind, the day driver packs the pairs of its
// next chunk itself and hands over the records and lines of "res", which the writer only keeps:
// so a writer on a slower or busier processor shares its work until neither thread waits (a pair
// whose packing would give a message is still handed over whole).
// A chunk is handed over when full, before a drain, and at a timed save when the writer is idle;
// a sleeping writer is woken once kWakeChunks chunks wait (or for a timed save or a drain), so
// that the threads meet once per few chunks, not once per pass: each wake-up costs more than the
// few pairs of one pass. The timed saves, the new entries of the minute index (the writer
// keeps its own copy, so that a commit writes the index as it stood at that point) and the day
// driver's clock readings (set_clock: the platform is asked on the day driver's thread only)
// follow the pairs through the same chunks, in the order one thread would meet them. So the saves,
// and every write and sync, come in the same order whatever the number of threads and their speed.
//
// Everything else the two share (the output set's lengths, the stream's framing and resume point,
// the header book, "res", the error stream) the day driver touches only after drain(), when the
// writer has released every slot and waits: before a main header, at the end of the data, and
// before each of its messages (the thread is the Diag's gate while it runs), so messages come in
// the order of one thread. Trace lines are compiled out (a build with tracing runs one thread).
//
// A failure on the measuring thread (a fatal message and its run end, or any exception) is kept,
// the thread stops taking slots, and the day driver throws it again at its next claim or drain:
// the run ends with the same message, in order, and the same status as with one thread.
//
// A cancelled run (ESC, a signal) ends where the writer has got to: the items it has not begun are
// dropped, and the files are those of one thread cancelled at that point (a resumed run completes
// them).
//
// With one thread every call goes straight to the writer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>

#include "base/constants.h"
#include "base/diagnostics.h"
#include "base/handoff_ring.h"
#include "format/line_record.h"
#include "format/particle_record.h"
#include "match/match_run.h"
#include "match/piece.h"
#include "measure/measure_drop.h"
#include "measure/particle_writer.h"
#include "platform/large_block.h"
#include "platform/platform.h"
#include "rawin/rawin_state.h"

namespace quorda {

// The threads a run uses: 2 when the process may run on two processors or more (its affinity, not
// the machine's count), else 1.
// QUORDA_THREADS=1 or 2 in the environment (given as `setting`, null when unset) chooses; a build
// with trace lines runs one thread.
int run_threads(const char* setting);

// A piece as the writer reads it: its shape, without the queue links and what only the assignment
// reads. Its runs lie in the chunk's run array.
struct PieceShape {
  int16_t x_min, x_max, width, line_no;
  double last_line, first_line;
};

// One item of a chunk, in one cache line: a pair, a pair packed ahead, a timed save, new
// minute-index entries or a clock reading. The day driver writes each item into a line that the
// writer read last, on the other processor, so every line an item takes costs a transfer between
// the processors' caches: what the writer does not read stays behind.
struct alignas(64) WriterItem {
  enum class Kind : uint8_t { kPair, kPacked, kCommit, kMinutes, kClock };
  // kPair: the two pieces; a's runs from runs_at in the chunk's run array, b's after them.
  struct Pair {
    PieceShape a, b;
    int32_t runs_at;
  };
  // kPacked: the record's head; its outline words and its line of "res" in the chunk's arrays.
  struct Packed {
    uint8_t head[kPixHeadSize];
    int32_t words_at, text_at, text_len;
  };
  // kMinutes: the entries from..to of the camera's index that are still 0 become `pos`.
  struct Minutes {
    Camera camera;
    int16_t from, to;
    int32_t pos;
  };
  Kind kind = Kind::kPair;
  union {
    Pair pair;
    Packed packed;
    Minutes minutes;
    int64_t now;  // kClock: the day driver's clock reading
  };
};
static_assert(sizeof(WriterItem) == 64);

// One slot of the ring: items in order and the runs of their pieces.
struct WriterChunk {
  static constexpr int kItems = 256;
  static constexpr int kRuns = 16384;  // room for the runs of the largest pair many times over
  static constexpr int kWords = 16384;
  static constexpr int kText = 65536;
  WriterItem items[kItems];
  Run runs[kRuns];
  uint16_t words[kWords];  // outline words of the pairs packed ahead
  char text[kText];        // their lines of "res"
  int n_items = 0;
  int n_runs = 0;
  int n_words = 0;
  int n_text = 0;

  // The ring's chunks (megabytes) live in a large block, as the run context does.
  static void* operator new[](size_t bytes) { return allocate_large_block(bytes); }
  static void operator delete[](void* block, size_t bytes) noexcept { free_large_block(block, bytes); }
};

// Which pairs the day driver's thread packs itself (pack_particle_quietly) before handing them
// over, so that the writer only keeps them: none; those of a chunk begun while the writer is
// kBehindChunks chunks or more behind; or all (for tests). A pair that would give a message is
// always handed over whole, so that the writer makes its messages in their turn.
enum class PackAhead { kNever, kWhenBehind, kAlways };

class MeasuringThread final : public PairSink, public MessageGate {
 public:
  static constexpr size_t kRingChunks = 16;
  // A sleeping writer is woken once this many chunks wait: it then has work for a while before it
  // sleeps again.
  static constexpr uint64_t kWakeChunks = 2;
  // The day driver packs the pairs of a chunk itself when it begins the chunk with this many
  // waiting for the writer: the writer is then the slower one (its processor may be slower, or
  // busier), and the two share the measuring until neither waits.
  static constexpr uint64_t kBehindChunks = 4;

  // The writer, the output set and error stream it shares, and what it reads with one thread: the
  // run's clock and the day driver's minute index.
  MeasuringThread(ParticleWriter& writer, const OutputSet& out, Diag& diag, Clock& clock,
                  const MinuteIndex& minutes, const QuietMeasure& ahead);
  MeasuringThread(const MeasuringThread&) = delete;
  MeasuringThread& operator=(const MeasuringThread&) = delete;
  ~MeasuringThread() override;

  // Begins a run's writing, the writer's clock reading `now`: with `threads` > 1 on the writer's
  // thread, from the minute index as it stands now.
  void begin(int threads, const MinuteIndex& minutes, int64_t now);
  // Whether the measuring thread runs.
  bool running() const { return ring_ != nullptr; }

  // The matcher's pair: into the ring.
  void take(const Piece& a, const Piece& b) override;
  // Which pairs the day driver packs before handing them over (kWhenBehind unless set).
  void pack_ahead(PackAhead when) { pack_ahead_ = when; }
  // A save in the order of the pairs.
  void save(SaveKind kind);
  // New entries of a camera's minute index, as mark_minute made them: from..to where still 0.
  void mark_minutes(Camera camera, int from, int to, int32_t pos);
  // The day driver's clock reading, for the writer's timed saves from here on.
  void set_clock(int64_t now);
  // Returns when the writer has done everything handed to it; the writer's failure is thrown
  // here. Until the next item, the day driver may use the writer and its state.
  void drain();
  // As drain(), but returns false when the writer is still busy after `timeout`, so that the day
  // driver can look at the keyboard and signals between waits.
  bool drain_for(std::chrono::milliseconds timeout);
  // A cancelled run: the writer drops what it has not yet begun (as one thread cancelled at that
  // point would never have made it) and returns as drain() does.
  void cancel();
  // The length of the hydrometeor file as the writer last left it, for the progress summary.
  int32_t hyd_length() const;
  // Drains (a failure is not thrown again), ends the thread and gives the writer back the run's
  // clock and the day driver's minute index. Without begin(), nothing.
  void stop();

  // MessageGate: the day driver's messages wait for the writer.
  void before_message() override;

 private:
  bool take_packed(const Piece& a, const Piece& b);
  WriterItem& append(int runs, int words = 0, int text = 0);
  void hand_over();
  void work();
  void handle(const WriterChunk& chunk, const WriterItem& item);
  [[noreturn]] void rethrow_failure();

  ParticleWriter& writer_;
  const OutputSet& out_;
  Diag& diag_;
  Clock& driver_clock_;
  const MinuteIndex& driver_minutes_;

  // The measuring thread's own: the minute index its commits write and the clock it reads.
  class RelayedClock;
  std::unique_ptr<RelayedClock> clock_;
  MinuteIndex minutes_;
  int64_t clock_sent_ = 0;  // the clock reading handed over last
  std::atomic<int32_t> hyd_length_{0};
  std::atomic<bool> cancelled_{false};  // the measuring thread drops the items left

  std::unique_ptr<HandoffRing<WriterChunk>> ring_;
  WriterChunk* open_ = nullptr;  // the chunk being filled
  PackAhead pack_ahead_ = PackAhead::kWhenBehind;
  bool packing_ = false;  // the pairs of the open chunk are packed ahead
  // The day driver's own: what it reads to pack ahead, and the record being packed.
  QuietMeasure ahead_;
  // (The words and the text are handed over in whole 4-byte units: room for the last one.)
  uint16_t ahead_words_[kMaxOutlineWords + 1] = {};
  uint8_t ahead_head_[kPixHeadSize] = {};
  char ahead_text_[kResLineMax + 3] = {};
  std::thread thread_;
  std::thread::id writer_id_;
  std::exception_ptr failure_;  // set by the measuring thread before it stops the ring
};

}  // namespace quorda
