// The hydrometeor output writer: particle records into the buffer, saves into the output set.
//
// Records are collected in the 200000-byte buffer of the writer state and reach the files only
// through a save, which appends the buffer to the hydrometeor file and rewrites the heads of the
// header file (pos_pix, oldlen) and of the index file (posa_bf, posb_bf, lastpix_y). Particles at
// or before the resume point restored by open_output_set are dropped. Single-threaded.
#pragma once

#include "match/piece.h"
#include "measure/measure_run.h"

namespace quorda {

// With a pair: transform, drop-or-append, per-minute index. Without (both null): a save request.
void net_wr(const MeasureRun& ctx, const Piece* drop_a, const Piece* drop_b);

// Commits the heads for what the hydrometeor file holds (the buffer not counted): syncs what was
// appended to it, writes the header file's head (pos_pix, oldlen) and syncs it, then writes the
// index file's head (posa_bf, posb_bf, lastpix_y), the commit record, each with one write. `final_save` syncs
// the index file too. A failure ends the run with its tag.
void commit_heads(const MeasureRun& ctx, bool final_save);

// The save before a main header: the buffer is appended to the hydrometeor file without a commit;
// the next timed save commits it with the header record that follows it.
void net_wr_append(const MeasureRun& ctx);

// The save at the end of the data: like a save request, but it rewrites the heads of the header
// and index files even when the buffer is empty, so that a completed run's files hold every minute
// it read whenever the last timed save happened.
void net_wr_final(const MeasureRun& ctx);

}  // namespace quorda
