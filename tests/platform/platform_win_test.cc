// The Windows platform layer on the process's console: keys from the console's input events
// without waiting, the cursor and the clearing through the console's own calls, Ctrl-C and
// Ctrl-Break through the control handler, the close of the console held open until the run has
// ended; zone-free time.
//
// The console tests need a console: under Wine the suite runs on a pseudo-terminal
// (scripts/windows_test.sh), on Windows in a console window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/console_win.h"

namespace quorda {
namespace {

using testing::Console;
using testing::key_event;

TEST(WindowsPlatform, PollsKeysFromTheConsoleWithoutWaitingAndDropsOtherEvents) {
  Console con;
  if (!con.ok()) GTEST_SKIP() << Console::kNoConsole;
  Console::StdHandles use(con.in(), con.out());
  auto p = make_windows_platform();
  ASSERT_TRUE(::FlushConsoleInputBuffer(con.in()));
  // A console on a pseudo-terminal may hold events of its own (focus, size): read them away.
  for (int i = 0; i < 100 && p->poll_key() != kKeyNone; ++i) {
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(p->poll_key(), kKeyNone);
  // Polling does not wait for input; the bound leaves room for a slow machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  INPUT_RECORD mouse = {};
  mouse.EventType = MOUSE_EVENT;
  ASSERT_TRUE(con.write_input({key_event('a', 'A', false), mouse, key_event(0, VK_SHIFT, true),
                               key_event('x', 'X', true), key_event(0, VK_LEFT, true),
                               key_event(27, VK_ESCAPE, true), key_event('q', 'Q', true)}));
  // The release of 'a', the mouse and the shift key give nothing; 'x' is a key of its own, the
  // arrow some other code than ESC, then ESC.
  EXPECT_EQ(p->poll_key(), 'x');
  const int arrow = p->poll_key();
  EXPECT_NE(arrow, kKeyNone);
  EXPECT_NE(arrow, kKeyEsc);
  EXPECT_EQ(p->poll_key(), kKeyEsc);
  EXPECT_EQ(p->poll_key(), 'q');
  EXPECT_EQ(p->poll_key(), kKeyNone);
}

TEST(WindowsPlatform, InputThatIsNoConsoleGivesNoKeys) {
  Console con;
  if (!con.ok()) GTEST_SKIP() << Console::kNoConsole;
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  {
    Console::StdHandles use(nul, nul);
    ASSERT_TRUE(con.write_input({key_event(27, VK_ESCAPE, true)}));
    auto p = make_windows_platform();
    EXPECT_EQ(p->poll_key(), kKeyNone);
    EXPECT_FALSE(p->stdout_is_terminal());
    // Nothing is drawn on the console either.
    con.write_at(0, 3, "unchanged");
    p->clear_console();
    p->move_cursor(14, 0);
    EXPECT_EQ(con.read_row(3).substr(0, 9), "unchanged");
  }
  ::CloseHandle(nul);
  ::FlushConsoleInputBuffer(con.in());
}

TEST(WindowsPlatform, ClearsTheScreenBufferAndPlacesTheCursorThroughTheConsole) {
  Console con;
  if (!con.ok()) GTEST_SKIP() << Console::kNoConsole;
  Console::StdHandles use(con.in(), con.out());
  auto p = make_windows_platform();
  EXPECT_TRUE(p->stdout_is_terminal());
  con.write_at(0, 0, "first row");
  con.write_at(5, 14, "row fourteen");
  p->clear_console();
  EXPECT_EQ(con.read_row(0), std::string(con.read_row(0).size(), ' '));
  EXPECT_EQ(con.read_row(14), std::string(con.read_row(14).size(), ' '));
  EXPECT_EQ(con.cursor().X, 0);
  EXPECT_EQ(con.cursor().Y, 0);
  p->move_cursor(14, 0);
  EXPECT_EQ(con.cursor().X, 0);
  EXPECT_EQ(con.cursor().Y, 14);
  p->move_cursor(3, 7);
  EXPECT_EQ(con.cursor().X, 7);
  EXPECT_EQ(con.cursor().Y, 3);
}

// Waits up to two seconds for the platform to see a termination request.
int signal_seen(Platform& p) {
  for (int i = 0; i < 200 && p.pending_signal() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return p.pending_signal();
}

TEST(WindowsPlatform, CtrlCAndCtrlBreakOnlySetTheFlag) {
  Console con;
  if (!con.ok()) GTEST_SKIP() << Console::kNoConsole;
  {
    auto p = make_windows_platform();
    EXPECT_EQ(p->pending_signal(), 0);
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    // The process lives on; the run ends at its next tick with status 130.
    EXPECT_EQ(signal_seen(*p), SIGINT);
  }
  auto p = make_windows_platform();
  EXPECT_EQ(p->pending_signal(), 0);
  if (::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
    EXPECT_EQ(signal_seen(*p), SIGINT);
  } else {
    // Wine's console generates Ctrl-C only: Ctrl-Break goes to the handler as the system would
    // deliver it.
    EXPECT_TRUE(windows_console_event(CTRL_BREAK_EVENT));
    EXPECT_EQ(p->pending_signal(), SIGINT);
  }
}

TEST(WindowsPlatform, ClosingTheConsoleSetsTheFlagAndHoldsTheProcessForTheRunsEnd) {
  auto p = make_windows_platform();
  // The system calls the handler on a thread of its own and ends the process when it returns.
  auto returned = std::make_shared<std::atomic<bool>>(false);
  std::thread([returned] {
    windows_console_event(CTRL_CLOSE_EVENT);
    *returned = true;
  }).detach();
  EXPECT_EQ(signal_seen(*p), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(*returned);
  // A later Ctrl-C does not replace the first request.
  windows_console_event(CTRL_C_EVENT);
  EXPECT_EQ(p->pending_signal(), SIGTERM);
  // Events the converter does not handle are left to the next handler.
  EXPECT_FALSE(windows_console_event(0x7f));
}

TEST(ZoneFreeTime, LocalConversionsEqualUtcWhateverTheZoneWas) {
  ASSERT_EQ(::_putenv_s("TZ", "CET-1CEST"), 0);
  ::_tzset();
  make_time_zone_free();
  EXPECT_EQ(_timezone, 0);
  EXPECT_EQ(_daylight, 0);
  std::time_t summer = 1278000000;  // early July 2010
  std::tm local{};
  ASSERT_EQ(::localtime_s(&local, &summer), 0);
  std::tm utc = break_down_utc(summer);
  EXPECT_EQ(local.tm_hour, utc.tm_hour);
  EXPECT_EQ(local.tm_isdst, 0);
  EXPECT_EQ(std::mktime(&utc), summer);
}

TEST(ZoneFreeTime, BreakDownGivesUtcFieldsWithDaylightCleared) {
  std::tm t = break_down_utc(86400 * 365 + 3723);
  EXPECT_EQ(t.tm_year, 71);
  EXPECT_EQ(t.tm_yday, 0);
  EXPECT_EQ(t.tm_hour, 1);
  EXPECT_EQ(t.tm_min, 2);
  EXPECT_EQ(t.tm_sec, 3);
  EXPECT_EQ(t.tm_isdst, 0);
}

}  // namespace
}  // namespace quorda
