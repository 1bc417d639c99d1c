// Test support: a fake platform, a run context whose streams are captured, and scratch folders.
#pragma once

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "base/run_end.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "support/process.h"

namespace quorda::testing {

// A platform whose clock, keys and terminal answers the test sets.
class FakePlatform : public Platform {
 public:
  void clear_console() override { ++clears; }
  void move_cursor(int row, int col) override { moves.push_back({row, col}); }
  bool stdout_is_terminal() override { return terminal; }
  int poll_key() override {
    if (keys.empty()) return kKeyNone;
    int k = keys.front();
    keys.pop_front();
    return k;
  }
  int64_t now() override {
    int64_t t = clock;
    clock += clock_step;
    return t;
  }
  double now_precise() override { return static_cast<double>(now()); }
  void sleep_seconds(double s) override { slept += s; }
  int pending_signal() override { return signal; }

  bool terminal = false;
  std::deque<int> keys;
  int64_t clock = 1000;
  int64_t clock_step = 0;  // added after every reading
  double slept = 0;
  int signal = 0;
  int clears = 0;
  std::vector<std::pair<int, int>> moves;
};

// A scratch folder, removed with its content at destruction.
class ScratchDir {
 public:
  ScratchDir() {
#ifdef _WIN32
    // A fresh name of the process id and a counter; the folder is written with '\' throughout, as
    // the converter's command line on Windows wants its paths.
    static int made = 0;
    const std::string base = std::filesystem::temp_directory_path().make_preferred().string();
    for (int tries = 0; tries < 1000 && path_.empty(); ++tries) {
      std::filesystem::path p = std::filesystem::path(base) /
                                ("quorda-test-" + std::to_string(::_getpid()) + "-" + std::to_string(++made));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) path_ = p.make_preferred().string() + "\\";
    }
#else
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorda-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    path_ = made != nullptr ? std::string(made) + "/" : std::string();
#endif
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // The folder, ending in a separator ('/' on POSIX, '\' on Windows).
  const std::string& path() const {
    return path_;
  }
  std::string file(const std::string& name) const {
    return path_ + name;
  }

 private:
  std::string path_;
};

// An error stream and a standard output in temporary files, for the Diag of a test.
class CapturedStreams {
 public:
  CapturedStreams() : err_(std::tmpfile()), out_(std::tmpfile()) {}
  CapturedStreams(const CapturedStreams&) = delete;
  CapturedStreams& operator=(const CapturedStreams&) = delete;
  ~CapturedStreams() {
    std::fclose(err_);
    std::fclose(out_);
  }
  // Points the diagnostics at the captured streams.
  void capture(Diag& diag) {
    diag.err = err_;
    diag.out = out_;
  }
  std::string err() { return slurp(err_); }
  std::string out() { return slurp(out_); }
  void clear_streams() {
    reset(err_);
    reset(out_);
  }
  // Runs f and returns the exit status of the RunEnd it threw, or -1 when it returned.
  template <typename F>
  int ends_with(F&& f) {
    try {
      f();
    } catch (const RunEnd& e) {
      return e.status;
    }
    return -1;
  }

 private:
  static std::string slurp(FILE* f) {
    std::fflush(f);
    long end = std::ftell(f);
    std::string s(static_cast<size_t>(end), '\0');
    std::rewind(f);
    size_t got = std::fread(s.data(), 1, s.size(), f);
    s.resize(got);
    std::fseek(f, 0, SEEK_END);
    return s;
  }
  static void reset(FILE* f) {
    std::fflush(f);
#ifdef _WIN32
    if (::_chsize_s(::_fileno(f), 0) != 0) return;
#else
    if (::ftruncate(::fileno(f), 0) != 0) return;
#endif
    std::rewind(f);
  }
  FILE* err_;
  FILE* out_;
};

// A run context whose error stream and standard output go to temporary files, and whose home is
// a scratch folder.
class TestRun : public CapturedStreams {
 public:
  TestRun() : ctx(make_run_context(platform, files.get())) {
    capture(ctx->diag);
    ctx->home = dir.path();
  }

  std::unique_ptr<Files> files = make_system_files();
  FakePlatform platform;
  ScratchDir dir;
  std::unique_ptr<RunContext> ctx;
};

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary);
  f << content;
}
inline void write_file(const std::string& path, const std::vector<uint8_t>& content) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}
inline std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A text file the program wrote, line ends made '\n' (see text_of).
inline std::string read_text(const std::string& path) {
  return text_of(read_file(path));
}

}  // namespace quorda::testing
