// The POSIX platform layer on a pseudo-terminal: key polling, escape sequences, the terminal
// mode and its restoring at destruction, at exit and after a fatal signal; the signal flag;
// console control only on a terminal; zone-free time.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace quorda {
namespace {

// A pseudo-terminal put in place of one standard descriptor for the life of the object.
class PtyOn {
 public:
  explicit PtyOn(int fd) : fd_(fd) {
    ok_ = ::openpty(&master_, &slave_, nullptr, nullptr, nullptr) == 0;
    if (!ok_) return;
    std::fflush(stdout);
    saved_ = ::dup(fd_);
    ::dup2(slave_, fd_);
  }
  ~PtyOn() {
    if (!ok_) return;
    std::fflush(stdout);
    ::dup2(saved_, fd_);
    ::close(saved_);
    ::close(slave_);
    ::close(master_);
  }
  bool ok() const { return ok_; }
  void type(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    // The terminal hands typed bytes on asynchronously: wait until they can be read.
    struct pollfd p = {slave_, POLLIN, 0};
    ::poll(&p, 1, 2000);
  }
  tcflag_t lflag() {
    struct termios t;
    ::tcgetattr(slave_, &t);
    return t.c_lflag;
  }
  // What the program wrote to the terminal, waiting at most briefly.
  std::string output() {
    std::string s;
    char buf[256];
    struct pollfd p = {master_, POLLIN, 0};
    while (::poll(&p, 1, 200) > 0) {
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      s.append(buf, static_cast<size_t>(n));
    }
    return s;
  }
  int slave() const { return slave_; }

 private:
  int fd_;
  bool ok_ = false;
  int master_ = -1, slave_ = -1, saved_ = -1;
};

constexpr tcflag_t kCooked = ICANON | ECHO;

TEST(PosixPlatform, PollsKeysWithoutWaitingAndTellsEscFromSequences) {
  PtyOn pty(STDIN_FILENO);
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
  auto p = make_posix_platform();
  EXPECT_EQ(p->poll_key(), kKeyNone);
  pty.type("x");
  EXPECT_EQ(p->poll_key(), 'x');
  pty.type("\x1b");
  EXPECT_EQ(p->poll_key(), kKeyEsc);
  for (const char* seq : {"\x1b[A", "\x1b[15~", "\x1bOP", "\x1bq"}) {
    pty.type(seq);
    EXPECT_EQ(p->poll_key(), kKeyEscSequence) << seq + 1;
    EXPECT_EQ(p->poll_key(), kKeyNone) << seq + 1;  // consumed whole
  }
  pty.type("\x1b[Bz");
  EXPECT_EQ(p->poll_key(), kKeyEscSequence);
  EXPECT_EQ(p->poll_key(), 'z');
}

TEST(PosixPlatform, TerminalModeIsRestoredAtDestruction) {
  PtyOn pty(STDIN_FILENO);
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
  ASSERT_EQ(pty.lflag() & kCooked, kCooked);
  {
    auto p = make_posix_platform();
    p->poll_key();
    EXPECT_EQ(pty.lflag() & kCooked, 0u);  // non-canonical, no echo
    EXPECT_NE(pty.lflag() & ISIG, 0u);     // Ctrl-C still raises SIGINT
  }
  EXPECT_EQ(pty.lflag() & kCooked, kCooked);
}

// Runs `end` in a child process that holds a platform in polling mode on the pseudo-terminal;
// returns the child's wait status.
template <typename F>
int child_status(PtyOn& pty, F end) {
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid == 0) {
    static Platform* held = make_posix_platform().release();  // reachable: never destroyed
    held->poll_key();
    end();
    ::_exit(99);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  (void)pty;
  return status;
}

TEST(PosixPlatform, TerminalModeIsRestoredAtExitAndAfterAFatalSignal) {
  PtyOn pty(STDIN_FILENO);
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
  int status = child_status(pty, [] { std::exit(0); });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(pty.lflag() & kCooked, kCooked);

  status = child_status(pty, [] { ::raise(SIGHUP); });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
  EXPECT_EQ(pty.lflag() & kCooked, kCooked);
}

TEST(PosixPlatform, BackgroundProcessLeavesTheKeyboardAlone) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal";
  ASSERT_EQ(::write(master, "x", 1), 1);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid == 0) {
    // A session whose controlling terminal is the pseudo-terminal, and a process of a group that
    // is not the terminal's foreground group: reading the terminal or changing its mode would
    // stop that process.
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, STDIN_FILENO);
    pid_t bg = ::fork();
    if (bg == 0) {
      ::setpgid(0, 0);
      static Platform* held = make_posix_platform().release();
      ::_exit(held->poll_key() == kKeyNone ? 0 : 1);
    }
    int st = 0;
    ::waitpid(bg, &st, WUNTRACED);
    if (WIFSTOPPED(st)) {
      ::kill(bg, SIGKILL);
      ::waitpid(bg, &st, 0);
      ::_exit(2);
    }
    ::_exit(WIFEXITED(st) ? WEXITSTATUS(st) : 3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct termios t;
  ::tcgetattr(slave, &t);
  EXPECT_EQ(t.c_lflag & kCooked, kCooked);
  ::close(slave);
  ::close(master);
}

TEST(PosixPlatform, TerminationSignalsOnlySetTheFlag) {
  struct sigaction before;
  ::sigaction(SIGINT, nullptr, &before);
  {
    auto p = make_posix_platform();
    EXPECT_EQ(p->pending_signal(), 0);
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(p->pending_signal(), SIGTERM);  // the first one received
  }
  struct sigaction after;
  ::sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(PosixPlatform, ConsoleControlOnlyOnATerminal) {
  {
    PtyOn pty(STDOUT_FILENO);
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal";
    auto p = make_posix_platform();
    EXPECT_TRUE(p->stdout_is_terminal());
    p->clear_console();
    p->move_cursor(14, 0);
    std::fflush(stdout);
    EXPECT_EQ(pty.output(), "\x1b[2J\x1b[H\x1b[15;1H");
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::fflush(stdout);
  int saved = ::dup(STDOUT_FILENO);
  ::dup2(fds[1], STDOUT_FILENO);
  {
    auto p = make_posix_platform();
    EXPECT_FALSE(p->stdout_is_terminal());
    p->clear_console();
    p->move_cursor(14, 0);
    std::fflush(stdout);
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(fds[1]);
  char c;
  EXPECT_EQ(::read(fds[0], &c, 1), 0);  // nothing was written
  ::close(fds[0]);
}

TEST(ZoneFreeTime, LocalConversionsEqualUtcWhateverTheZoneWas) {
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  make_time_zone_free();
  EXPECT_EQ(timezone, 0);
  EXPECT_EQ(daylight, 0);
  std::time_t summer = 1278000000;  // early July 2010
  std::tm local;
  ::localtime_r(&summer, &local);
  std::tm utc = break_down_utc(summer);
  EXPECT_EQ(local.tm_hour, utc.tm_hour);
  EXPECT_EQ(local.tm_isdst, 0);
  EXPECT_EQ(::mktime(&utc), summer);
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
