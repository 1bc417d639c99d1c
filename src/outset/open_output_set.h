// Opening an output set: reading what an earlier run left, bringing it back to its last save,
// creating missing files with their initial heads and restoring the stream's framing. The raw
// input restores its own state (main headers, minute tables, cursors) from what these return,
// between the steps. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "outset/output_set.h"
#include "outset/recover_output_set.h"
#include "platform/files.h"

namespace quorda {

// The bytes of one file of the set, if it exists.
struct FoundFile {
  bool exists = false;
  std::vector<uint8_t> bytes;
};

struct FoundSet {
  FoundFile hyd, hd, abh;
};

// Reads the set's three files as they are. A file that exists but cannot be read ends the run:
// nothing may be appended to a set that was not looked at.
FoundSet read_output_set(Files& files, Diag& diag, const OutputSet& out);

// Plans bringing the set back to its last save (plan_recovery) and says on the error stream what
// will be cut. A set that cannot be brought back is left untouched and ends the run. `raw_heads`
// reads the raw file's records (null: only `raw_size` bounds the index file's positions).
RecoveryPlan plan_set_recovery(Diag& diag, const OutputSet& out, const FoundSet& found, int64_t raw_size,
                               RawHeads* raw_heads, const std::string& hyd_file);

// Opens (or creates) the hydrometeor and header files, cuts them to what the plan keeps, writes
// the header file's head where it changed, syncs `hyd_folder` when a file was created there, and
// restores the framing: pos_pix, the last record length and the resume point.
void open_stream_files(Files& files, Diag& diag, OutputSet& out, StreamFraming& framing,
                       const RecoveryPlan& plan, const FoundSet& found, const std::string& hyd_folder);

// Opens the index file, or creates it whole with one write (empty minute tables, no saved line)
// and syncs `abh_folder`; restores the last saved line of an existing one.
void open_index_file(Files& files, Diag& diag, OutputSet& out, StreamFraming& framing,
                     const RecoveryPlan& plan, const std::string& abh_folder);

}  // namespace quorda
