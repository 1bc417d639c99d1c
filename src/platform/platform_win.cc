// The platform layer of Windows: the console's own cursor and clearing calls, keys read from the
// console's input events without waiting, Ctrl-C, Ctrl-Break and the closing of the console
// window through a console control handler, the clock and zone-free time.
//
// The control handler runs on a thread of its own that the system starts; the only value it
// shares with the run is the received event, held in this file's static storage as an atomic.
// It is the only process-wide state of the converter and is touched by no other code.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace quorda {

namespace {

// The first termination request received: SIGINT for Ctrl-C and Ctrl-Break, SIGTERM for the
// closing of the console window, logoff and shutdown. The run ends with the same status as on
// POSIX (130 and 143).
std::atomic<int> g_signal{0};

// After a close event the system ends the process once the handler returns (and at the latest
// some five seconds after the event). The handler keeps the process alive meanwhile, so that the
// run ends at its next tick with its files closed and its own exit status.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI on_console_event(DWORD event) {
  return windows_console_event(event) ? TRUE : FALSE;
}

// Keys that change others and give no key of their own.
bool is_modifier(WORD vk) {
  switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

class WindowsPlatform : public Platform {
 public:
  WindowsPlatform() {
    in_ = ::GetStdHandle(STD_INPUT_HANDLE);
    out_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    stdin_console_ = is_console(in_);
    stdout_console_ = is_console(out_);
    g_signal = 0;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
    ::QueryPerformanceFrequency(&freq_);
  }

  ~WindowsPlatform() override { ::SetConsoleCtrlHandler(on_console_event, FALSE); }

  void clear_console() override {
    if (!stdout_console_) return;
    // Text still in the stream's buffer belongs before the clearing.
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(out_, &info)) return;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    const COORD home = {0, 0};
    DWORD done = 0;
    ::FillConsoleOutputCharacterA(out_, ' ', cells, home, &done);
    ::FillConsoleOutputAttribute(out_, info.wAttributes, cells, home, &done);
    ::SetConsoleCursorPosition(out_, home);
  }

  void move_cursor(int row, int col) override {
    if (!stdout_console_) return;
    std::fflush(stdout);
    const COORD at = {static_cast<SHORT>(col), static_cast<SHORT>(row)};
    ::SetConsoleCursorPosition(out_, at);
  }

  bool stdout_is_terminal() override { return stdout_console_; }

  int poll_key() override {
    if (!stdin_console_) return kKeyNone;
    for (;;) {
      DWORD waiting = 0;
      if (!::GetNumberOfConsoleInputEvents(in_, &waiting) || waiting == 0) return kKeyNone;
      INPUT_RECORD rec;
      DWORD got = 0;
      if (!::ReadConsoleInputW(in_, &rec, 1, &got) || got == 0) return kKeyNone;
      // Mouse, focus, menu and size events, and the release of keys, are dropped.
      if (rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) continue;
      const KEY_EVENT_RECORD& key = rec.Event.KeyEvent;
      const WCHAR ch = key.uChar.UnicodeChar;
      if (ch == 0) {
        if (is_modifier(key.wVirtualKeyCode)) continue;
        return kKeyEscSequence;  // arrow, function and other keys without a character
      }
      return ch == kKeyEsc ? kKeyEsc : (ch < kKeyEscSequence ? static_cast<int>(ch) : kKeyEscSequence);
    }
  }

  int64_t now() override { return static_cast<int64_t>(std::time(nullptr)); }

  double now_precise() override {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq_.QuadPart);
  }

  void sleep_seconds(double s) override {
    if (s <= 0) return;
    ::Sleep(static_cast<DWORD>(s * 1000.0));
  }

  int pending_signal() override { return g_signal.load(); }

 private:
  HANDLE in_ = nullptr;
  HANDLE out_ = nullptr;
  bool stdin_console_ = false;
  bool stdout_console_ = false;
  LARGE_INTEGER freq_ = {};
};

}  // namespace

bool windows_console_event(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      int none = 0;
      g_signal.compare_exchange_strong(none, SIGINT);
      return true;
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      int none = 0;
      g_signal.compare_exchange_strong(none, SIGTERM);
      ::Sleep(kCloseGraceMs);
      return true;
    }
    default:
      return false;
  }
}

std::unique_ptr<Platform> make_windows_platform() {
  return std::make_unique<WindowsPlatform>();
}

void make_time_zone_free() {
  // "UTC0": a zone named UTC of offset 0 without daylight saving, in the C library's own form.
  ::_putenv_s("TZ", "UTC0");
  ::_tzset();
  _timezone = 0;
  _daylight = 0;
}

int usable_processors() {
  DWORD_PTR process = 0, system = 0;
  int n = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++n;
  }
  return n > 0 ? n : 1;
}

std::FILE* duplicate_stream(std::FILE* s) {
  const int fd = ::_dup(::_fileno(s));
  if (fd < 0) return nullptr;
  std::FILE* copy = ::_fdopen(fd, "w");
  if (copy == nullptr) ::_close(fd);
  return copy;
}

std::tm break_down_utc(std::time_t t) {
  std::tm tm{};
  ::gmtime_s(&tm, &t);
  tm.tm_isdst = 0;
  return tm;
}

}  // namespace quorda
