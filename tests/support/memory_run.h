// Test support: whole runs of the converter in process, over a file room the test chooses, in a
// folder whose path fits a settings directory.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/entry.h"
#include "app/run_context.h"
#include "platform/platform.h"
#include "support/crash_files.h"
#include "support/short_dir.h"
#include "support/test_context.h"

namespace quorda::testing {

struct Outcome {
  int status = -1;
  bool cut = false;  // the power failed
  std::string err;
};

// One run in `dir` through `files` with `platform` and `threads` threads (0: the run's own choice);
// `prepare`, when given, sees the run's context before the run.
inline Outcome convert_with(const std::string& dir, Files& files, Platform& platform, int threads = 0,
                            const std::function<void(RunContext&)>& prepare = nullptr) {
  auto ctx = make_run_context(platform, &files);
  FILE* err = std::tmpfile();
  FILE* out = std::fopen(kNullDevice, "w");
  ctx->diag.err = err;
  ctx->diag.out = out;
  ctx->home = dir;
  if (threads > 0) ctx->threads = threads;
  if (prepare) prepare(*ctx);
  const std::string raw = dir + "V26150_1.ab";
  const char* argv[] = {"quorda", raw.c_str(), "/e"};
  Outcome o;
  try {
    o.status = run_quorda(*ctx, 3, argv);
  } catch (const PowerCut&) {
    o.cut = true;
  }
  ctx.reset();
  std::rewind(err);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, err)) > 0;) o.err.append(buf, n);
  std::fclose(err);
  std::fclose(out);
  return o;
}

// One run in `dir` through `files`; the clock moves a second at every reading, so that the
// writer's timed saves come every few passes.
inline Outcome convert(const std::string& dir, Files& files) {
  FakePlatform platform;
  platform.clock_step = 1;
  return convert_with(dir, files, platform);
}

}  // namespace quorda::testing
