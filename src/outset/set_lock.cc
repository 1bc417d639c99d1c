// The lock of an output set. A second conversion of a set while the first one works would append
// to the same files from two processes and leave neither run's set; the lock makes the second one
// end before it reads anything of the set. The lock is the system's lock of an open file, which
// the system drops when the process ends, however it ends: there is no stale lock to clean up,
// and the lock file itself is never removed (removing it would let two runs lock two files).
#include "outset/set_lock.h"

#include <cerrno>

#include "base/diagnostics.h"
#include "base/run_end.h"

namespace quorda {

namespace {

// The lock file cannot be created, opened or locked for another reason than a holder.
constexpr char kLockTag[] = " pixfil22 ";
// Another process holds the set, with and without its process id.
constexpr char kSetBusy[] =
    " pixfil: the output set %s, %s, %s is being converted by process %lld (lock file %s): this run "
    "ends and changes nothing \n";
constexpr char kSetBusyNoId[] =
    " pixfil: the output set %s, %s, %s is being converted by another process (lock file %s): this "
    "run ends and changes nothing \n";

}  // namespace

void lock_output_set(Files& files, Diag& diag, OutputSet& out) {
  int64_t holder = 0;
  FileError err;
  switch (files.lock(out.lock_name, &out.lock, &holder, &err)) {
    case LockState::kTaken:
      return;
    case LockState::kBusy:
      if (holder > 0) {
        errf(diag, kSetBusy, out.hyd_name.c_str(), out.hd_name.c_str(), out.abh_name.c_str(),
             static_cast<long long>(holder), out.lock_name.c_str());
      } else {
        errf(diag, kSetBusyNoId, out.hyd_name.c_str(), out.hd_name.c_str(), out.abh_name.c_str(),
             out.lock_name.c_str());
      }
      end_run(kExitBusy);
    case LockState::kFailed:
      break;
  }
  errno = err.code;
  fatal_tag(diag, kLockTag);
}

}  // namespace quorda
