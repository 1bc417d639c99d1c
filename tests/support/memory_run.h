// Test support: whole runs of the converter in process, over a file room the test chooses, in a
// folder whose path fits a settings directory.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/entry.h"
#include "app/run_context.h"
#include "support/crash_files.h"
#include "support/test_context.h"

namespace quorda::testing {

// A scratch folder whose path fits the 19 characters of a settings directory; in memory where the
// machine has a memory file system, since each run rewrites "res" there.
class ShortDir {
 public:
  ShortDir() {
    char shm[] = "/dev/shm/qpcXXXXXX";
    char tmp[] = "/tmp/qpcXXXXXX";
    const char* made = std::filesystem::is_directory("/dev/shm") ? ::mkdtemp(shm) : nullptr;
    if (made == nullptr) made = ::mkdtemp(tmp);
    path_ = made != nullptr ? std::string(made) + "/" : std::string();
  }
  ~ShortDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Outcome {
  int status = -1;
  bool cut = false;  // the power failed
  std::string err;
};

// One run in `dir` through `files`; the clock moves a second at every reading, so that the
// writer's timed saves come every few passes.
inline Outcome convert(const std::string& dir, Files& files) {
  FakePlatform platform;
  platform.clock_step = 1;
  auto ctx = make_run_context(&platform, &files);
  char* err_text = nullptr;
  size_t err_size = 0;
  FILE* err = ::open_memstream(&err_text, &err_size);
  FILE* out = std::fopen("/dev/null", "w");
  ctx->diag.err = err;
  ctx->diag.out = out;
  ctx->home = dir;
  const std::string raw = dir + "V26150_1.ab";
  const char* argv[] = {"quorda", raw.c_str(), "/e"};
  Outcome o;
  try {
    o.status = run_quorda(*ctx, 3, argv);
  } catch (const PowerCut&) {
    o.cut = true;
  }
  ctx.reset();
  std::fclose(err);
  o.err.assign(err_text, err_size);
  std::free(err_text);
  std::fclose(out);
  return o;
}

}  // namespace quorda::testing
