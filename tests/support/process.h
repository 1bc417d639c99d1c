// Test support: runs a program in a folder and collects its exit status and standard output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quorda::testing {

struct ProcResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output and standard error, as the program wrote them
};

// Starts `exe` with `args` in folder `cwd`, standard input from /dev/null, and returns its pid;
// its output goes to the file `out_path`.
inline pid_t start_program(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& cwd, const std::string& out_path) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the program; kills it after `timeout_s` seconds (status 128 + SIGKILL then).
inline int wait_program(pid_t pid, int timeout_s = 300) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  int st = 0;
  while (true) {
    pid_t r = ::waitpid(pid, &st, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &st, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

// Path of one of the built tools ("rainsim", "hydinfo").
inline std::string tool_path(const std::string& name) {
  return std::string(QUORDA_TOOLS_DIR) + "/" + name;
}

inline std::string slurp_file(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return s;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

inline ProcResult run_program(const std::string& exe, const std::vector<std::string>& args,
                              const std::string& cwd, int timeout_s = 300) {
  std::string out_path = cwd + "/.program-output";
  pid_t pid = start_program(exe, args, cwd, out_path);
  ProcResult r;
  r.status = wait_program(pid, timeout_s);
  r.out = slurp_file(out_path);
  ::unlink(out_path.c_str());
  return r;
}

}  // namespace quorda::testing
