// Test support: runs a program in a folder and collects its exit status and output, on POSIX
// (fork and exec) and on Windows (CreateProcess, with the command line quoted as the C runtime
// splits it). Also where the built programs are.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace quorda::testing {

struct ProcResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output and standard error, line ends made '\n'
};

#ifdef _WIN32

// The folder of the running test executable, ending in '\': the programs are built beside it.
inline std::string build_dir() {
  char buf[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string p(buf, n);
  const size_t cut = p.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

// Path of one of the built tools ("rainsim", "hydinfo").
inline std::string tool_path(const std::string& name) {
  return build_dir() + name + ".exe";
}

inline std::string quorda_exe() {
  return tool_path("quorda");
}

// One argument quoted so that the C runtime's splitting gives it back unchanged.
inline std::string quote_argument(const std::string& a) {
  if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : a) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    q.push_back(c);
  }
  q.append(2 * backslashes, '\\');  // before the closing quote
  q.push_back('"');
  return q;
}

using ProgramHandle = HANDLE;

inline HANDLE open_inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return ::CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts `exe` with `args` in folder `cwd`, standard input from the null device, standard output
// to the file `out_path` and standard error to `err_path` (to `out_path` when empty). Returns
// the process handle, or nullptr when the program could not be started.
inline HANDLE start_program(const std::string& exe, const std::vector<std::string>& args,
                            const std::string& cwd, const std::string& out_path,
                            const std::string& err_path = "") {
  std::string cmd = quote_argument(exe);
  for (const auto& a : args) cmd += " " + quote_argument(a);
  HANDLE in = open_inheritable("NUL", false);
  HANDLE out = open_inheritable(out_path, true);
  HANDLE err = err_path.empty() ? out : open_inheritable(err_path, true);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  // A start refused by the system is said with its error, and tried once more: the status a
  // test sees then (127) would tell nothing of the program.
  BOOL ok = FALSE;
  for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
    ok = ::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
    if (!ok) {
      std::fprintf(stderr, "could not start %s: system error %lu\n", cmd.c_str(), ::GetLastError());
      ::Sleep(200);
    }
  }
  ::CloseHandle(in);
  ::CloseHandle(out);
  if (err != out) ::CloseHandle(err);
  if (!ok) return nullptr;
  ::CloseHandle(pi.hThread);
  return pi.hProcess;
}

// Waits for the program; ends it after `timeout_s` seconds (status 128 + 9 then).
inline int wait_program(HANDLE h, int timeout_s = 300) {
  if (h == nullptr) return 127;
  if (::WaitForSingleObject(h, static_cast<DWORD>(timeout_s) * 1000u) != WAIT_OBJECT_0) {
    ::TerminateProcess(h, 128 + 9);
    ::WaitForSingleObject(h, INFINITE);
  }
  DWORD code = 0;
  ::GetExitCodeProcess(h, &code);
  ::CloseHandle(h);
  return static_cast<int>(code);
}

#else

// Path of one of the built tools ("rainsim", "hydinfo").
inline std::string tool_path(const std::string& name) {
  return std::string(QUORDA_TOOLS_DIR) + "/" + name;
}

inline std::string quorda_exe() {
  return QUORDA_EXE;
}

using ProgramHandle = pid_t;

// The environment a started program gets: this one's. Built with AddressSanitizer, a program run
// under strace goes without the leak checker, which stops a traced program (and starts a thread
// of its own at the end).
inline std::vector<std::string> program_environment(const std::string& exe) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
#if defined(__SANITIZE_ADDRESS__)
  if (exe.ends_with("strace")) {
    std::erase_if(env, [](const std::string& e) { return e.starts_with("ASAN_OPTIONS="); });
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back("ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0");
  }
#else
  (void)exe;
#endif
  return env;
}

// Starts `exe` with `args` in folder `cwd`, standard input from /dev/null, and returns its pid;
// its standard output goes to the file `out_path`, its standard error to `err_path` (to
// `out_path` when empty).
inline pid_t start_program(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& cwd, const std::string& out_path,
                           const std::string& err_path = "") {
  std::vector<std::string> env = program_environment(exe);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = err_path.empty() ? out : ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(exe.c_str(), argv.data(), envp.data());
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

#endif

// The words of a text separated by blanks, as arguments of a program.
inline std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    const size_t blank = text.find(' ', at);
    const size_t end = blank == std::string::npos ? text.size() : blank;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

// Text the program wrote through the C library's text mode (standard streams, "res",
// QUORDA.ERR) with the line ends of this system made '\n': on Windows each "\r\n" becomes "\n"
// (a '\n' without '\r' stays, and shows as a difference).
inline std::string text_of(const std::string& raw) {
#ifdef _WIN32
  std::string s;
  s.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    s.push_back(raw[i]);
  }
  return s;
#else
  return raw;
#endif
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

// Runs the program with standard output and standard error into one text.
inline ProcResult run_program(const std::string& exe, const std::vector<std::string>& args,
                              const std::string& cwd, int timeout_s = 300) {
  std::string out_path = (cwd.empty() ? std::string(".") : cwd) + "/.program-output";
  ProgramHandle h = start_program(exe, args, cwd, out_path);
  ProcResult r;
  r.status = wait_program(h, timeout_s);
  r.out = text_of(slurp_file(out_path));
  std::remove(out_path.c_str());
  return r;
}

// Runs the program with standard output and standard error kept apart.
struct SplitResult {
  int status = -1;
  std::string out;
  std::string err;
};
inline SplitResult run_program_split(const std::string& exe, const std::vector<std::string>& args,
                                     const std::string& cwd, int timeout_s = 300) {
  const std::string dir = cwd.empty() ? std::string(".") : cwd;
  const std::string out_path = dir + "/.program-stdout";
  const std::string err_path = dir + "/.program-stderr";
  ProgramHandle h = start_program(exe, args, cwd, out_path, err_path);
  SplitResult r;
  r.status = wait_program(h, timeout_s);
  r.out = text_of(slurp_file(out_path));
  r.err = text_of(slurp_file(err_path));
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return r;
}

}  // namespace quorda::testing
