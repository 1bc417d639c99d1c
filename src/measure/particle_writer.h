// The particle writer: particle records into its buffer, saves into the output set.
//
// Each matched pair becomes a particle record (pack_particle) in the writer's 200000-byte buffer;
// particles at or before the resume point restored by open_output_set are dropped. The records
// reach the files only through a save, which appends the buffer to the hydrometeor file and
// rewrites the heads of the header file (pos_pix, last record length) and of the index file (the
// raw-file minute tables of both cameras, the last saved line). A pair saves first when the buffer would
// fill, or when the last save lies more than kSaveIntervalSeconds back or a main header asked for a commit.
//
// The writer owns its buffer and the clock of its saves. It writes through the output set's files
// and shares the stream's framing (back link, unsynced bytes, per-minute index, resume point) with
// the main header records of the raw input; every object it is given must outlive it. The hot path
// (a pair without a save) makes no allocation and no system call. Not thread-safe: one thread at a
// time uses it (the measuring thread while it runs, the day driver only after draining it).
#pragma once

#include <climits>
#include <cstdint>

#include "base/constants.h"
#include "base/diagnostics.h"
#include "match/match_run.h"
#include "match/piece.h"
#include "measure/measure_run.h"
#include "outset/output_set.h"
#include "platform/platform.h"
#include "rawin/rawin_state.h"

namespace quorda {

// A save comes at the first pair or save request more than this many seconds after the last one.
inline constexpr int64_t kSaveIntervalSeconds = 3;

enum class SaveKind {
  kCommit,  // the timed save: appends the buffer, then commits the heads if the stream has unsynced bytes
  kAppend,  // the save before a main header: appends the buffer only, the next commit counts it
};

class ParticleWriter : public PairSink {
 public:
  // `clock` is read at every save check.
  ParticleWriter(Diag& diag, Clock& clock, const MeasureRun& measure, OutputSet& out,
                 const MinuteIndex& minutes, const HeaderBook& headers, StreamFraming& stream);
  ParticleWriter(const ParticleWriter&) = delete;
  ParticleWriter& operator=(const ParticleWriter&) = delete;

  // Measures and packs the pair and buffers its record, saving first where a save is due.
  void add(const Piece& drop_a, const Piece& drop_b);
  void take(const Piece& a, const Piece& b) override { add(a, b); }

  // A pair packed ahead by pack_particle_quietly (head, outline words, its line of "res"): kept
  // as add() keeps a pair it packs, the length of the record before it put into the head here.
  void add_packed(const uint8_t* head, const uint16_t* outline, const char* res_text, size_t res_len);

  // A save requested by the day driver.
  void save(SaveKind kind);

  // From now on the clock of the saves is read from `clock` and the commits write `minutes`: a
  // measuring thread hands over copies of its own, since the day driver's go on changing meanwhile.
  void read_from(Clock& clock, const MinuteIndex& minutes) {
    clock_ = &clock;
    minutes_ = &minutes;
  }

  // The save at the end of the data: appends the buffer and commits the heads even when nothing
  // is unsynced, so that a completed run's files hold every minute it read whenever the last timed
  // save happened. The index file is synced too.
  void save_final();

  // Commits the heads for what the hydrometeor file holds (the buffer not counted): syncs what was
  // appended to it, writes the header file's head (pos_pix, last record length) and syncs it, writes
  // the index file's raw-file minute tables and syncs them, then the last saved line, the commit, with
  // one write within one sector. `final_save` syncs the index file after it too. A failure ends the run with
  // its tag.
  void commit_heads(bool final_save);

  // The records buffered since the last save, and the t1 of the last one.
  const uint8_t* buffered() const { return buf_; }
  int32_t buffered_bytes() const { return used_; }
  double last_buffered_t1() const { return last_t1_; }

 private:
  void keep(const uint8_t* head, const uint16_t* outline);
  bool dropped_by_resume(double t1);
  void save_now(int64_t now, bool commit, bool heads_always);
  void append_buffer();
  void enter_minute(double t1);

  Diag& diag_;
  Clock* clock_;
  const MeasureRun measure_;
  OutputSet& out_;
  const MinuteIndex* minutes_;
  const HeaderBook& headers_;
  StreamFraming& stream_;

  uint8_t buf_[kPixBufSize];
  int32_t used_ = 0;            // bytes of buf_ in use
  double last_t1_ = 0;          // t1 of the last record put into buf_
  double file_last_t1_ = 0;     // t1 of the last particle record appended to the hydrometeor file
  int64_t last_save_time_ = 0;  // clock of the last save
  // Lines below minute_edge_ fall in minute edge_minute_ or before at line frequency edge_fr_:
  // while the stream's last entered minute and the line frequency are those, such a record enters
  // no minute.
  double minute_edge_ = 0;
  int edge_minute_ = INT_MIN;
  double edge_fr_ = 0;
};

}  // namespace quorda
