// The output file set of one raw file — hydrometeor stream (".hyd"), header file (".hd") and index
// file (".abh") — and the bookkeeping of the stream's framing and commits. This floor alone
// creates, recovers, appends to, commits and syncs the three files and holds the set's lock; the
// floors above hand it what to append and read back what it restored. Single-threaded: one thread
// at a time uses a set (the measuring thread while it runs, the day driver only after draining it).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/constants.h"
#include "base/diagnostics.h"
#include "platform/files.h"
#include "platform/out_file.h"

namespace quorda {

struct OutputSet {
  std::string abh_name, hyd_name, hd_name;
  std::string lock_name;       // the set's lock file, beside the index file
  std::unique_ptr<File> lock;  // holds the set's lock for the whole run
  int32_t hyd_day = 0;
  int32_t hyd_end = 0;  // length of the hydrometeor file
  OutFile hyd_stream, hd_stream, abh_stream;
  bool close_failed = false;  // closing one of the three files failed at the end of the run
};

// The hydrometeor stream's framing and commit bookkeeping, shared by the main header records
// (handed over by the raw input) and the particle records (buffered by the particle writer),
// and the resume point restored when the set is opened.
struct StreamFraming {
  int16_t last_record_len = 0;  // length of the last record put into the hydrometeor stream
  // t1 of the last particle record in the file, truncated, as of the last commit.
  uint64_t last_saved_line = 0;
  // What an earlier run saved, as the recovery found it: the t1 of the last particle record kept
  // and how many kept records have that t1. Particles made again are dropped: those before
  // resume_t1 and the first resume_ties at it.
  bool resume_drop = false;
  double resume_t1 = 0;
  int32_t resume_ties = 0;
  bool hyd_unsynced = false;  // bytes were appended to the hydrometeor file since its last sync
  // The length of the last record of the hydrometeor file as appended so far (the writer's buffer
  // not counted). A commit writes it.
  int16_t file_last_record_len = 0;
  bool commit_due = false;  // a main header was written: the writer commits at its next pair or save
  int32_t pos_pix[kMinutes] = {};
  int16_t pix_minute = 0;  // the last minute entered in pos_pix
};

// Names the set's three files and its lock file after the raw file's base name `name`: the
// hydrometeor and header files in `hyd_folder`, the index and lock files in `abh_folder`.
void name_output_set(OutputSet& out, const std::string& name, const std::string& hyd_folder,
                     const std::string& abh_folder, int32_t day);

// Appends a 74-byte main header record to the header file, then to the hydrometeor file, and
// counts it in the framing: a record that reached only the header file is cut from it by the next
// run, which meets the header again in the raw file. A failed write ends the run.
void append_main_header(Diag& diag, OutputSet& out, StreamFraming& framing, const uint8_t* record);

// Appends `bytes` (whole particle records, the last of length framing.last_record_len) to the
// hydrometeor file at its end with one write. A failed write ends the run.
void append_particle_records(Diag& diag, OutputSet& out, StreamFraming& framing,
                             std::span<const uint8_t> bytes);

// The raw-file minute tables of both cameras, written into the index file by a commit.
struct RawMinuteTables {
  std::span<const int32_t, kMinutes> a;
  std::span<const int32_t, kMinutes> b;
};

// Commits the heads for what the hydrometeor file holds: syncs what was appended to it, writes
// the header file's head (pos_pix, last record length) and syncs it, writes the index file's
// raw-file minute tables and syncs them, then the last saved line, the commit, with one write
// within one sector. `final_save` syncs the index file after it too. A failure ends the run with
// its tag.
void commit_output_set(Diag& diag, OutputSet& out, StreamFraming& framing, const RawMinuteTables& tables,
                       bool final_save);

}  // namespace quorda
