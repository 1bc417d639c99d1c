// The converter on a Windows console: the banner and the summary at row 14 on the screen buffer,
// ESC typed into the console's input and Ctrl-C through the console end the run at the next tick,
// before the day is through.
//
// The tests need a console: under Wine the suite runs on a pseudo-terminal
// (scripts/windows_test.sh), on Windows in a console window. The converter shares the test's
// console, as a program started from a command prompt does.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/console_win.h"
#include "support/day_files.h"
#include "support/long_day.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::Console;
using testing::key_event;
using testing::long_day;
using testing::ScratchDir;

// Ctrl-C events the test process has swallowed. The system calls the handler on a thread of its
// own, some time after the event was generated.
std::atomic<int> g_swallowed{0};

// Swallows Ctrl-C in the test process while the converter gets it too.
BOOL WINAPI swallow(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  ++g_swallowed;
  return TRUE;
}

class ConsoleRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { raw_ = new std::vector<uint8_t>(long_day()); }
  static void TearDownTestSuite() { delete raw_; }
  void SetUp() override {
    if (!con_.ok()) GTEST_SKIP() << Console::kNoConsole;
    testing::write_file(dir_.file("QUORDA.SET"), testing::settings_text({}));
    testing::write_file(dir_.file("corrfact.dat"), testing::neutral_corrfact());
    testing::write_file(dir_.file("V10082_1.ab"), *raw_);
    ::FlushConsoleInputBuffer(con_.in());
    // The rows an earlier run left on the shared console would otherwise pass for this run's
    // before it has even cleared the screen (and installed its Ctrl-C handler).
    con_.clear();
    proc_ = con_.start(testing::quorda_exe(), {"V10082_1.ab", "/e"}, dir_.path(), dir_.file("stderr.txt"));
    ASSERT_NE(proc_, nullptr);
  }
  void TearDown() override {
    if (proc_ != nullptr) {
      if (::WaitForSingleObject(proc_, 0) == WAIT_TIMEOUT) ::TerminateProcess(proc_, 99);
      ::CloseHandle(proc_);
    }
  }
  // Waits until row `row` of the screen buffer begins with `text`; false after the timeout.
  bool row_shows(SHORT row, const std::string& text, double timeout_s) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (con_.read_row(row).rfind(text, 0) != 0) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  int wait(int timeout_s) {
    if (::WaitForSingleObject(proc_, static_cast<DWORD>(timeout_s) * 1000u) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(proc_, &code);
    return static_cast<int>(code);
  }
  std::string screen() {
    std::string s;
    for (SHORT r = 0; r < 20; ++r) s += con_.read_row(r) + "\n";
    return s;
  }
  size_t res_lines() {
    size_t n = 0;
    for (char c : testing::read_text(dir_.file("res"))) n += c == '\n';
    return n;
  }

  static std::vector<uint8_t>* raw_;
  Console con_;
  ScratchDir dir_;
  HANDLE proc_ = nullptr;
};
std::vector<uint8_t>* ConsoleRun::raw_ = nullptr;

TEST_F(ConsoleRun, BannerAndSummaryStandAtTheirRowsAndEscEndsTheRunWithStatusZero) {
  // The summary's last line, camera B's cursor, at row 17: the four lines start at row 14 and are
  // written top to bottom, so once row 17 shows the others stand too.
  ASSERT_TRUE(row_shows(17, "B:", 60)) << screen();
  EXPECT_EQ(con_.read_row(16).rfind("A:", 0), 0u) << screen();
  EXPECT_EQ(con_.read_row(3).rfind("    |         T H E   T A R N E V O", 0), 0u) << screen();
  EXPECT_EQ(con_.read_row(0).find_first_not_of(' '), std::string::npos) << screen();
  EXPECT_EQ(con_.read_row(15).rfind("V10082_1.ab:", 0), 0u) << screen();
  ASSERT_TRUE(con_.write_input({key_event(27, VK_ESCAPE, true), key_event(27, VK_ESCAPE, false)}));
  EXPECT_EQ(wait(60), 0) << screen();
  EXPECT_LT(res_lines(), testing::kLongDayCutShort);
}

TEST_F(ConsoleRun, CtrlCEndsTheRunWithStatus130) {
  ASSERT_TRUE(row_shows(16, "A:", 60)) << screen();
  const int swallowed = g_swallowed;
  ASSERT_TRUE(::SetConsoleCtrlHandler(swallow, TRUE));
  if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
    ::SetConsoleCtrlHandler(swallow, FALSE);
    GTEST_SKIP() << "this console cannot generate control events";
  }
  const int status = wait(60);
  // The handler stays until the test process has had its own Ctrl-C, which would end it
  // otherwise.
  for (int i = 0; i < 1000 && g_swallowed == swallowed; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GT(g_swallowed, swallowed);
  ::SetConsoleCtrlHandler(swallow, FALSE);
  EXPECT_EQ(status, 130) << screen();
  EXPECT_LT(res_lines(), testing::kLongDayCutShort);
}

}  // namespace
}  // namespace quorda
