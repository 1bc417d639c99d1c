// The particle writer: turns each matched pair into a particle record (pack_particle), drops
// particles that an earlier run already wrote, collects the records in its buffer, keeps the
// per-minute index pos_pix and saves now and then.
//
// A save hands the buffer to the output set, which appends it to the hydrometeor file with one
// write; a save for a full buffer only appends, the timed saves, those after a main header and the
// final save then commit the set's heads (commit_output_set).
#include "measure/particle_writer.h"

#include <climits>
#include <cstring>

#include "base/bytes.h"
#include "base/trace.h"
#include "format/minute_table.h"
#include "format/particle_record.h"
#include "measure/pack_particle.h"
#include "measure/res_file.h"

namespace quorda {

ParticleWriter::ParticleWriter(Diag& diag, Clock& clock, const MeasureRun& measure, OutputSet& out,
                               const MinuteIndex& minutes, const HeaderBook& headers, StreamFraming& stream)
    : diag_(diag),
      clock_(&clock),
      measure_(measure),
      out_(out),
      minutes_(&minutes),
      headers_(headers),
      stream_(stream) {}

void ParticleWriter::add(const Piece& drop_a, const Piece& drop_b) {
  uint8_t head[kPixHeadSize];
  uint16_t outline[kMaxOutlineWords];
  if (!pack_particle(measure_, drop_a, drop_b, stream_.last_record_len, outline, head)) return;
  keep(head, outline);
}

void ParticleWriter::add_packed(const uint8_t* head, const uint16_t* outline, const char* res_text,
                                size_t res_len) {
  write_res_text(measure_, res_text, res_len);
  uint8_t own[kPixHeadSize];
  std::memcpy(own, head, kPixHeadSize);
  put_i16(own + pixhead::kLenPrev, stream_.last_record_len);
  keep(own, outline);
}

// The record just packed: dropped when an earlier run saved it, else added to the buffer (after a
// save when one is due) and entered in the minute index.
void ParticleWriter::keep(const uint8_t* head, const uint16_t* outline) {
  const int len = get_u16(head + pixhead::kLenBits) & kLenMask;
  if (len < static_cast<int>(kPixHeadSize)) return;
  const double t1 = get_f64(head + pixhead::kT1);
  if (dropped_by_resume(t1)) return;

  const int64_t now = clock_->now();
  const bool timed = now > last_save_time_ + kSaveIntervalSeconds || stream_.commit_due;
  const bool full = static_cast<size_t>(used_) + static_cast<size_t>(len) >= kPixBufSize;
  if (timed || full) save_now(now, timed, false);

  uint8_t* dst = buf_ + used_;
  std::memcpy(dst, head, kPixHeadSize);
  const int words = (len - static_cast<int>(kPixHeadSize)) / 2;
  for (int i = 0; i < words; ++i) put_u16(dst + kPixHeadSize + sizeof(uint16_t) * i, outline[i]);
  stream_.last_record_len = static_cast<int16_t>(len);
  last_t1_ = t1;
  enter_minute(t1);
  used_ += len;
}

void ParticleWriter::save(SaveKind kind) {
  save_now(clock_->now(), kind == SaveKind::kCommit, false);
}

void ParticleWriter::save_final() {
  save_now(clock_->now(), true, true);
}

void ParticleWriter::commit_heads(bool final_save) {
  // The heads count what the hydrometeor file holds: particles still in the buffer move neither the
  // resume point nor the last record length.
  if (file_last_t1_ > 0.0) stream_.last_saved_line = static_cast<uint64_t>(file_last_t1_);
  commit_output_set(diag_, out_, stream_, RawMinuteTables{minutes_->minute_pos_a, minutes_->minute_pos_b},
                    final_save);
}

// Whether the particle was saved by an earlier run, as the recovery found it at the start of the
// run: the particles are made again in the same order of t1, so those before the last saved line
// and the first resume_ties on it are dropped.
bool ParticleWriter::dropped_by_resume(double t1) {
  StreamFraming& w = stream_;
  if (!w.resume_drop || !(t1 <= w.resume_t1)) return false;
  if (t1 < w.resume_t1) return true;
  if (w.resume_ties > 0) {
    --w.resume_ties;
    return true;
  }
  return false;
}

// One save. A save for a full buffer only appends it: the heads are committed at the other saves
// (timed, forced and final), which sync the files first. An empty buffer leaves the files
// untouched unless `heads_always` asks for the heads.
void ParticleWriter::save_now(int64_t now, bool commit, bool heads_always) {
  last_save_time_ = now;
  if (used_ > 0) append_buffer();
  if (commit && (stream_.hyd_unsynced || heads_always)) commit_heads(heads_always);
  stream_.commit_due = false;
  used_ = 0;
  hprintf(diag_, " written \n");
}

// Appends the buffer to the hydrometeor file at its end, with one write.
void ParticleWriter::append_buffer() {
  hprintf(diag_, "lastpix_y=%lf now writing %ld ", static_cast<double>(stream_.last_saved_line), used_);
  append_particle_records(diag_, out_, stream_, std::span<const uint8_t>(buf_, static_cast<size_t>(used_)));
  file_last_t1_ = last_t1_;
}

// Enters the record just added at the end of the buffer for every minute from pix_minute + 1 up
// to its own.
void ParticleWriter::enter_minute(double t1) {
  StreamFraming& w = stream_;
  const double fr = headers_.line_fr;
  if (w.pix_minute != edge_minute_ || !(fr == edge_fr_)) {
    edge_minute_ = w.pix_minute;
    edge_fr_ = fr;
    minute_edge_ = first_line_past_minute(w.pix_minute, fr);
  }
  // Most records fall in the minute entered last: no division for them.
  if (t1 < minute_edge_) return;
  const int minute = minute_of_line(t1, fr);
  if (minute == kNoMinute || minute <= w.pix_minute) return;
  for (int i = w.pix_minute + 1; i <= minute; ++i) {
    if (w.pos_pix[i] == kNoRecord) w.pos_pix[i] = out_.hyd_end + used_;
    hprintf(diag_, "i=%d pos_pix=%lu pix_end=%lu pix_indx=%lu \n", i, w.pos_pix[i], out_.hyd_end, used_);
  }
  w.pix_minute = static_cast<int16_t>(minute);
}

}  // namespace quorda
