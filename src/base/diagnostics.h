// Diagnostics: the error stream, tagged failure lines and fatal ends.
//
// The error stream is the process's standard error, which the entry reopens onto QUORDA.ERR
// unless "/e" is given; console texts go to standard output. Both are reached through Diag so
// that tests can capture them. A tagged failure line is written after a failed file operation:
// the checkpoint tag exactly as given (blanks included), ": ", the system's text for errno and a
// newline. A fatal condition writes its message and ends the run through end_run (run_end.h).
//
// When a second thread measures and writes the pairs, messages of both threads reach the error
// stream in the order one thread would write them: a gate, when set, is passed before every
// message to the error stream (report_tag, errf, fatal, fatal_tag), and the measuring thread's gate
// lets the reading thread write only once the writer has handled everything handed to it before.
#pragma once

#include <cstdio>

namespace quorda {

class MessageGate {
 public:
  // Returns when the calling thread may write its message; may end the run instead.
  virtual void before_message() = 0;

 protected:
  ~MessageGate() = default;
};

struct Diag {
  FILE* err = stderr;           // the error stream
  FILE* out = stdout;           // console texts and trace lines
  MessageGate* gate = nullptr;  // passed before each message to the error stream, when set
};

// Writes "<tag>: <strerror(errno)>\n" to the error stream; errno is read on entry.
void report_tag(Diag& d, const char* tag);

// printf-style text to the error stream.
void errf(Diag& d, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// printf-style text to standard output.
void outf(Diag& d, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes the message to the error stream and ends the run with kExitFatal.
[[noreturn]] void fatal(Diag& d, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Reports the tag like report_tag and ends the run with kExitFatal as a file failure.
[[noreturn]] void fatal_tag(Diag& d, const char* tag);

}  // namespace quorda
