// Cancelling a run from the console: ESC and Ctrl-C under a pseudo-terminal end the run at the
// next tick with the files closed, without the final save, and with the terminal mode restored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/day_files.h"
#include "support/long_day.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::long_day;
using testing::ScratchDir;

struct PtyRun {
  pid_t pid = -1;
  int master = -1;
  std::string seen;

  // Reads what the program writes until `text` has appeared; false after the timeout.
  bool read_until(const std::string& text, double timeout_s) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (seen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) {
        char buf[4096];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) return false;
        seen.append(buf, static_cast<size_t>(n));
      }
    }
    return true;
  }
  // Waits for the end of the program, reading its output meanwhile; returns its exit status.
  int wait(double timeout_s) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    int st = 0;
    while (::waitpid(pid, &st, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
        return -1;
      }
      read_until("\x01never", 0.02);
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
};

PtyRun start_under_pty(const std::string& dir, termios* before) {
  PtyRun r;
  r.pid = ::forkpty(&r.master, nullptr, nullptr, nullptr);
  if (r.pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execl(QUORDA_EXE, QUORDA_EXE, "V10082_1.ab", "/e", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::tcgetattr(r.master, before);
  return r;
}

class Cancel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { raw_ = new std::vector<uint8_t>(long_day()); }
  static void TearDownTestSuite() { delete raw_; }
  void SetUp() override {
    testing::write_file(dir_.file("QUORDA.SET"), testing::settings_text({}));
    testing::write_file(dir_.file("corrfact.dat"), testing::neutral_corrfact());
    testing::write_file(dir_.file("V10082_1.ab"), *raw_);
  }
  // The terminal modes the converter switches off while it polls keys are back on.
  void expect_terminal_restored(const PtyRun& r) {
    termios after{};
    ASSERT_EQ(::tcgetattr(r.master, &after), 0);
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
  }
  size_t res_lines() {
    std::string res = testing::read_file(dir_.file("res"));
    size_t n = 0;
    for (char c : res) n += c == '\n';
    return n;
  }

  static std::vector<uint8_t>* raw_;
  ScratchDir dir_;
};
std::vector<uint8_t>* Cancel::raw_ = nullptr;

TEST_F(Cancel, EscEndsTheRunAtTheNextTickWithStatusZero) {
  termios before{};
  PtyRun r = start_under_pty(dir_.path(), &before);
  ASSERT_TRUE(r.read_until("A:", 30)) << r.seen;
  ::kill(r.pid, SIGSTOP);
  ASSERT_EQ(::write(r.master, "\x1b", 1), 1);
  ::usleep(100000);
  ::kill(r.pid, SIGCONT);
  EXPECT_EQ(r.wait(60), 0) << r.seen;
  expect_terminal_restored(r);
  EXPECT_LT(res_lines(), testing::kLongDayCutShort);
  ::close(r.master);
}

TEST_F(Cancel, CtrlCEndsTheRunWithStatus130) {
  termios before{};
  PtyRun r = start_under_pty(dir_.path(), &before);
  ASSERT_TRUE(r.read_until("A:", 30)) << r.seen;
  ::kill(r.pid, SIGINT);
  EXPECT_EQ(r.wait(60), 130) << r.seen;
  expect_terminal_restored(r);
  EXPECT_LT(res_lines(), testing::kLongDayCutShort);
  ::close(r.master);
}

}  // namespace
}  // namespace quorda
