// The platform layer: what the converter needs of the console, the keyboard, the clock and the
// file system, behind one small interface so that tests can put a fake in its place.
//
// Two real ones, one per system. PosixPlatform: ANSI escape sequences when standard output is a
// terminal (nothing otherwise), keys through termios in non-canonical, no-echo mode polled with a
// zero timeout when standard input is a terminal, and the terminal mode restored however the
// process ends. WindowsPlatform: the console's cursor and fill calls, keys from the console's
// input events, Ctrl-C and the closing of the console through a console control handler.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace quorda {

inline constexpr int kKeyNone = -1;
inline constexpr int kKeyEsc = 27;
// An escape sequence (arrow or function key), consumed whole.
inline constexpr int kKeyEscSequence = 0x100;

// A clock in whole seconds: all the particle writer asks of the platform.
class Clock {
 public:
  virtual ~Clock() = default;
  // Clock reading in whole seconds (the C library's time()).
  virtual int64_t now() = 0;
};

class Platform : public Clock {
 public:
  // Clears the console (nothing when standard output is not a terminal).
  virtual void clear_console() = 0;
  // Places the console cursor at a row and column counted from 0 (nothing when not a terminal).
  virtual void move_cursor(int row, int col) = 0;
  virtual bool stdout_is_terminal() = 0;
  // Returns the waiting key without blocking, or kKeyNone. A lone ESC gives kKeyEsc; an escape
  // sequence (arrow or function key) is consumed whole and gives some other code.
  virtual int poll_key() = 0;
  // Clock reading in seconds with a fraction, for rate limits.
  virtual double now_precise() = 0;
  virtual void sleep_seconds(double s) = 0;
  // 0, or the number of a termination signal (SIGINT, SIGTERM) received since the start.
  virtual int pending_signal() = 0;
};

#ifdef _WIN32
// The platform of Windows: console calls when standard output and input are consoles (nothing
// otherwise); installs the console control handler, removes it at destruction.
std::unique_ptr<Platform> make_windows_platform();
// The console control handler of the Windows platform, called by the system on a thread of its
// own. Ctrl-C and Ctrl-Break make pending_signal() SIGINT, the closing of the console window,
// logoff and shutdown SIGTERM (the first request stays); after a close the handler waits some
// seconds before it returns, because the system ends the process when it does, so that the run
// ends at its next tick with its own status. Returns false for events it leaves to others.
bool windows_console_event(unsigned long event);
inline std::unique_ptr<Platform> make_system_platform() {
  return make_windows_platform();
}
#else
// The platform of this machine. Installs the signal handlers and takes the terminal into
// key-polling mode on first use; restores the terminal at destruction and at process exit.
std::unique_ptr<Platform> make_posix_platform();
inline std::unique_ptr<Platform> make_system_platform() {
  return make_posix_platform();
}
#endif

// Path of a file split as the program's names need it. For "D:\DATA\V99365_1.AB": drive "D:",
// dir "\DATA\", name "V99365_1", ext ".AB". Both '\' and '/' separate directories.
struct PathParts {
  std::string drive;
  std::string dir;
  std::string name;
  std::string ext;
};
PathParts split_path(const std::string& path);

// The device that swallows what is written to it.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// The processors this process may run on (its affinity: a `taskset`, a batch system's
// allocation), at least 1.
int usable_processors();

// A second stream onto what `s` writes to now, which stays there when `s` is reopened elsewhere
// (the console behind the error stream, say). Null when there is none.
std::FILE* duplicate_stream(std::FILE* s);

// Makes calendar conversions zone-free: replaces TZ by a zone of offset 0 without daylight saving,
// sets the zone offset and the daylight flag to 0.
void make_time_zone_free();
// Breaks a clock reading down with no zone offset and the daylight field cleared.
std::tm break_down_utc(std::time_t t);

}  // namespace quorda
