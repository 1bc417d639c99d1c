// The platform layer of POSIX systems: ANSI console control, key polling through termios, the
// termination-signal flag, the clock and zone-free time.
//
// Signal handlers and the exit hook cannot reach a run context, so the few values they need (the
// received signal, the terminal mode to restore) live in this file's static storage. They are
// the only process-wide state of the converter and are touched by no other code.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/platform.h"

namespace quorda {

namespace {

// Set by the SIGINT/SIGTERM handler: the first termination signal received.
volatile std::sig_atomic_t g_signal = 0;

// Terminal of standard input: the mode found at start and whether the polling mode is in force.
struct termios g_saved_mode;
struct termios g_raw_mode;
volatile std::sig_atomic_t g_raw_active = 0;
bool g_exit_hook_installed = false;

// Fatal signals after which the terminal mode is restored before the default action runs.
constexpr int kFatalSignals[] = {SIGHUP, SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV};

volatile std::sig_atomic_t g_reapply = 0;

void restore_terminal() {
  if (g_raw_active) {
    // A process that was sent to the background would be stopped by SIGTTOU when it touches the
    // terminal mode; with the signal blocked the change goes through.
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::sigprocmask(SIG_BLOCK, &ttou, &old);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    g_raw_active = 0;
  }
}

// Whether this process owns the keyboard: a background process neither reads the terminal nor
// changes its mode (either would stop it).
bool in_foreground() {
  pid_t fg = ::tcgetpgrp(STDIN_FILENO);
  // -1: not the controlling terminal of this process, so no job control applies to it.
  return fg == -1 || fg == ::getpgrp();
}

extern "C" void on_termination(int sig) {
  if (g_signal == 0) g_signal = sig;
}

extern "C" void on_fatal(int sig) {
  // tcsetattr is async-signal-safe; the handler was installed with SA_RESETHAND, so raising the
  // signal again runs its default action.
  restore_terminal();
  ::raise(sig);
}

extern "C" void on_continue(int) {
  // Back from a stop: the shell may have reset the terminal. The next poll in the foreground
  // takes the polling mode again.
  g_reapply = 1;
}

extern "C" void restore_terminal_at_exit() {
  restore_terminal();
}

// Bytes of an escape sequence after ESC: CSI ("ESC [" parameters and a final byte in 0x40-0x7e),
// SS3 ("ESC O" and one byte), or ESC with one more byte (a key pressed with Alt).
constexpr int kMaxSequence = 32;

bool byte_waiting() {
  struct pollfd p = {STDIN_FILENO, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int read_byte() {
  unsigned char c;
  return ::read(STDIN_FILENO, &c, 1) == 1 ? c : kKeyNone;
}

class PosixPlatform : public Platform {
 public:
  PosixPlatform() {
    stdout_tty_ = ::isatty(STDOUT_FILENO) != 0;
    stdin_tty_ = ::isatty(STDIN_FILENO) != 0;
    g_signal = 0;
    struct sigaction sa = {};
    sa.sa_handler = on_termination;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, &old_int_);
    ::sigaction(SIGTERM, &sa, &old_term_);
  }

  ~PosixPlatform() override {
    restore_terminal();
    if (raw_tried_ && stdin_tty_) {
      ::sigaction(SIGCONT, &old_cont_, nullptr);
      for (size_t i = 0; i < std::size(kFatalSignals); ++i)
        ::sigaction(kFatalSignals[i], &old_fatal_[i], nullptr);
    }
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
  }

  void clear_console() override {
    if (!stdout_tty_) return;
    std::fputs("\x1b[2J\x1b[H", stdout);
    std::fflush(stdout);
  }

  void move_cursor(int row, int col) override {
    if (!stdout_tty_) return;
    std::fprintf(stdout, "\x1b[%d;%dH", row + 1, col + 1);
  }

  bool stdout_is_terminal() override { return stdout_tty_; }

  int poll_key() override {
    if (!stdin_tty_ || !in_foreground()) return kKeyNone;
    enter_polling_mode();
    if (g_reapply && g_raw_active) {
      g_reapply = 0;
      ::tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_mode);
    }
    if (!byte_waiting()) return kKeyNone;
    int c = read_byte();
    if (c != kKeyEsc) return c;
    if (!byte_waiting()) return kKeyEsc;
    int first = read_byte();
    if (first == '[') {
      for (int i = 0; i < kMaxSequence && byte_waiting(); ++i) {
        int b = read_byte();
        if (b == kKeyNone || (b >= 0x40 && b <= 0x7e)) break;
      }
    } else if (first == 'O') {
      if (byte_waiting()) read_byte();
    }
    return kKeyEscSequence;
  }

  int64_t now() override { return static_cast<int64_t>(std::time(nullptr)); }

  // The coarse clock (a few milliseconds apart) serves the progress tick's tenth of a second and
  // costs an eighth of the fine one: the tick asks at every block, over half a million times a
  // heavy day.
  double now_precise() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

  void sleep_seconds(double s) override {
    if (s <= 0) return;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(s);
    ts.tv_nsec = static_cast<long>((s - static_cast<double>(ts.tv_sec)) * 1e9);
    ::nanosleep(&ts, nullptr);  // a signal cuts the wait short; the tick then acts on it
  }

  int pending_signal() override { return g_signal; }

 private:
  // Takes the terminal into non-canonical, no-echo mode the first time keys are polled. Signal
  // keys (Ctrl-C) keep working; reads return at once when nothing is waiting.
  void enter_polling_mode() {
    if (raw_tried_) return;
    raw_tried_ = true;
    if (::tcgetattr(STDIN_FILENO, &g_saved_mode) != 0) {
      stdin_tty_ = false;
      return;
    }
    g_raw_mode = g_saved_mode;
    g_raw_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    g_raw_mode.c_cc[VMIN] = 0;
    g_raw_mode.c_cc[VTIME] = 0;
    if (!g_exit_hook_installed) {
      std::atexit(restore_terminal_at_exit);
      g_exit_hook_installed = true;
    }
    struct sigaction sa = {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_fatal;
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) ::sigaction(kFatalSignals[i], &sa, &old_fatal_[i]);
    sa.sa_handler = on_continue;
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGCONT, &sa, &old_cont_);
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_mode) == 0) g_raw_active = 1;
  }

  bool stdout_tty_ = false;
  bool stdin_tty_ = false;
  bool raw_tried_ = false;
  struct sigaction old_int_ = {};
  struct sigaction old_term_ = {};
  struct sigaction old_cont_ = {};
  struct sigaction old_fatal_[std::size(kFatalSignals)] = {};
};

}  // namespace

std::unique_ptr<Platform> make_posix_platform() {
  return std::make_unique<PosixPlatform>();
}

void make_time_zone_free() {
  // Without TZ the C library would fall back to the system's zone file; "UTC0" names a zone of
  // offset 0 with no daylight-saving rule, so local-time conversions equal UTC ones everywhere.
  ::unsetenv("TZ");
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  timezone = 0;
  daylight = 0;
}

int usable_processors() {
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

std::FILE* duplicate_stream(std::FILE* s) {
  const int fd = ::fcntl(::fileno(s), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  std::FILE* copy = ::fdopen(fd, "w");
  if (copy == nullptr) ::close(fd);
  return copy;
}

std::tm break_down_utc(std::time_t t) {
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  tm.tm_isdst = 0;
  return tm;
}

}  // namespace quorda
