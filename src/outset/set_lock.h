// The lock of an output set: one conversion of a set at a time.
#pragma once

#include "base/diagnostics.h"
#include "outset/output_set.h"
#include "platform/files.h"

namespace quorda {

// Takes the exclusive lock of the set named by name_output_set (its lock file beside the index
// file) and holds it in out.lock for the rest of the process. Must come before anything of the
// set is read or written. When another process holds it, the run ends at once with kExitBusy and
// a message naming the set and that process, having changed nothing of the set; when the lock
// cannot be taken at all, with its tag and kExitFatal.
void lock_output_set(Files& files, Diag& diag, OutputSet& out);

}  // namespace quorda
