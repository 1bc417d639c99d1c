// The one way a run ends from inside: a RunEnd thrown by end_run and turned into the exit
// status by the program's entry.
//
// Every fatal condition writes its message to the error stream first and then calls end_run with
// kExitFatal; a completed run and a cancelled one end with kExitOk; a run that finds its output set
// held by another one ends with kExitBusy. Tests catch RunEnd and look
// at its status.
#pragma once

namespace quorda {

enum ExitStatus : int {
  kExitOk = 0,         // completed run, ESC, "/?"
  kExitFatal = 1,      // a run ended by a fatal error
  kExitUsage = 2,      // usage text: no file named
  kExitBusy = 3,       // the output set is held by another conversion; nothing was changed
  kExitSigint = 130,   // Ctrl-C
  kExitSigterm = 143,  // SIGTERM
};

struct RunEnd {
  int status;
  // The run ends because a file operation failed (fatal_tag), not because of what the data hold:
  // nothing more is written to the output set.
  bool file_failure = false;
  // What ended a fatal run, for the console line at its end: the tag of the failed file operation
  // or the format of the fatal message (constant texts that name the mistake), and the system's
  // error number of a failed file operation.
  const char* cause = nullptr;
  int error = 0;
};

[[noreturn]] inline void end_run(int status, bool file_failure = false, const char* cause = nullptr,
                                 int error = 0) {
  throw RunEnd{status, file_failure, cause, error};
}

}  // namespace quorda
