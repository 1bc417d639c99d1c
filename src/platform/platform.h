// The platform layer: what the converter needs of the console, the keyboard, the clock and the
// file system, behind one small interface so that tests can put a fake in its place.
//
// PosixPlatform is the real one: ANSI escape sequences when standard output is a terminal
// (nothing otherwise), keys through termios in non-canonical, no-echo mode polled with a zero
// timeout when standard input is a terminal, and the terminal mode restored however the process
// ends.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace quorda {

inline constexpr int kKeyNone = -1;
inline constexpr int kKeyEsc = 27;
// An escape sequence (arrow or function key), consumed whole.
inline constexpr int kKeyEscSequence = 0x100;

class Platform {
 public:
  virtual ~Platform() = default;
  // Clears the console (nothing when standard output is not a terminal).
  virtual void clear_console() = 0;
  // Places the console cursor at a row and column counted from 0 (nothing when not a terminal).
  virtual void move_cursor(int row, int col) = 0;
  virtual bool stdout_is_terminal() = 0;
  // Returns the waiting key without blocking, or kKeyNone. A lone ESC gives kKeyEsc; an escape
  // sequence (arrow or function key) is consumed whole and gives some other code.
  virtual int poll_key() = 0;
  // Clock reading in whole seconds (the C library's time()).
  virtual int64_t now() = 0;
  // Clock reading in seconds with a fraction, for rate limits.
  virtual double now_precise() = 0;
  virtual void sleep_seconds(double s) = 0;
  // 0, or the number of a termination signal (SIGINT, SIGTERM) received since the start.
  virtual int pending_signal() = 0;
};

// The platform of this machine. Installs the signal handlers and takes the terminal into
// key-polling mode on first use; restores the terminal at destruction and at process exit.
std::unique_ptr<Platform> make_posix_platform();

// Path of a file split as the program's names need it. For "D:\DATA\V99365_1.AB": drive "D:",
// dir "\DATA\", name "V99365_1", ext ".AB". Both '\' and '/' separate directories.
struct PathParts {
  std::string drive;
  std::string dir;
  std::string name;
  std::string ext;
};
PathParts split_path(const std::string& path);

// Makes calendar conversions zone-free: replaces TZ by a zone of offset 0 without daylight saving,
// sets the zone offset and the daylight flag to 0.
void make_time_zone_free();
// Breaks a clock reading down with no zone offset and the daylight field cleared.
std::tm break_down_utc(std::time_t t);

}  // namespace quorda
