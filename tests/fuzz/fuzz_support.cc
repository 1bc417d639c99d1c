// Shared pieces of the fuzz harnesses.
#include "fuzz/fuzz_support.h"

#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "app/command_line.h"
#include "app/entry.h"
#include "match/pool.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "support/day_files.h"
#include "support/short_dir.h"

namespace quorda::fuzz {

namespace {

// The first separator in [at, end), or end. memchr and memcmp rather than a search of the
// harness's own: the harness is built with coverage feedback, and a byte-by-byte search of every
// input cost more than the recovery planner behind it.
const uint8_t* find_separator(const uint8_t* at, const uint8_t* end) {
  const size_t sep_len = sizeof kFileSeparator - 1;
  while (static_cast<size_t>(end - at) >= sep_len) {
    const void* hit = std::memchr(at, kFileSeparator[0], static_cast<size_t>(end - at) - sep_len + 1);
    if (hit == nullptr) break;
    at = static_cast<const uint8_t*>(hit);
    if (std::memcmp(at, kFileSeparator, sep_len) == 0) return at;
    ++at;
  }
  return end;
}

}  // namespace

std::vector<InputFile> split_files(const uint8_t* data, size_t size, size_t n) {
  std::vector<InputFile> files(n);
  const size_t sep_len = sizeof kFileSeparator - 1;
  const uint8_t* const end = data + size;
  const uint8_t* at = data;
  for (size_t i = 0; i < n; ++i) {
    // The last file takes the rest of the input.
    const uint8_t* next = i + 1 == n ? end : find_separator(at, end);
    files[i].present = true;
    files[i].bytes = {at, static_cast<size_t>(next - at)};
    if (next == end) break;
    at = next + sep_len;
  }
  return files;
}

std::vector<uint8_t> join_files(const std::vector<std::vector<uint8_t>>& files) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) out.insert(out.end(), kFileSeparator, kFileSeparator + sizeof kFileSeparator - 1);
    out.insert(out.end(), files[i].begin(), files[i].end());
  }
  return out;
}

FILE* null_stream() {
  static FILE* const f = std::fopen(kNullDevice, "w");
  return f;
}

Folder::Folder() {
#ifdef _WIN32
  // The settings file names the folder, so its path must fit a settings line.
  path_ = testing::make_short_folder("qf");
  if (path_.empty()) {
    std::fprintf(stderr, "fuzz folder: none whose path fits a settings line\n");
    std::abort();
  }
#else
  // Memory-backed when the system has it: a run creates and removes files at every input.
  char shm[] = "/dev/shm/qXXXXXX";
  char tmp[] = "/tmp/qf-XXXXXX";
  char* tmpl = access("/dev/shm", W_OK) == 0 ? shm : tmp;
  const char* made = ::mkdtemp(tmpl);
  if (made == nullptr) {
    std::perror("fuzz folder");
    std::abort();
  }
  path_ = std::string(made) + "/";
#endif
}

Folder::~Folder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void Folder::put(const std::string& name, const InputFile& f) const {
  const std::string path = path_ + name;
  if (!f.present) {
    std::remove(path.c_str());
    return;
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return;
  if (!f.bytes.empty()) std::fwrite(f.bytes.data(), 1, f.bytes.size(), out);
  std::fclose(out);
}

namespace {

// The settings of a conversion whose raw file and output set lie in `data_folder`, and neutral
// correction tables, written into `folder`.
void put_setup_files(const Folder& folder, const std::string& data_folder) {
  testing::SettingsValues s;
  s.raw_path = data_folder;
  s.hyd_path = data_folder;
  const std::string set = testing::settings_text(s);
  const std::string corr = testing::neutral_corrfact();
  folder.put("QUORDA.SET", {true, {reinterpret_cast<const uint8_t*>(set.data()), set.size()}});
  folder.put("corrfact.dat", {true, {reinterpret_cast<const uint8_t*>(corr.data()), corr.size()}});
}

// Both streams of a context go nowhere; QUORDA_FUZZ_VERBOSE sends them to standard error, for
// looking into one input.
void quiet_streams(RunContext& ctx) {
  static const bool verbose = std::getenv("QUORDA_FUZZ_VERBOSE") != nullptr;
  ctx.diag.err = verbose ? stderr : null_stream();
  ctx.diag.out = verbose ? stderr : null_stream();
}

}  // namespace

std::unique_ptr<RunContext> quiet_context(Platform* platform, const std::string& home) {
  // The machine's file room, shared by every context of the harness; it keeps no state.
  static const std::unique_ptr<Files> files = make_system_files();
  auto ctx = make_run_context(*platform, files.get());
  quiet_streams(*ctx);
  ctx->home = home;
  return ctx;
}

// The folder of the raw file and the output set on the disk in memory. It exists nowhere else, so
// it can be short: a settings line holds a folder of at most 19 characters (the machine's
// temporary folder on Windows is longer). Written with the system's separator, it is a folder the
// settings reader keeps as it is.
const std::string Conversions::kDiskFolder = std::string(1, kDirSeparator) + "qfz" + kDirSeparator;

Conversions::Conversions()
    : storage_(::operator new (sizeof(RunContext), std::align_val_t{alignof(RunContext)})) {
  put_setup_files(folder_, kDiskFolder);
}

Conversions::~Conversions() {
  ::operator delete (storage_, std::align_val_t{alignof(RunContext)});
}

void Conversions::put(const char* name, const InputFile& f) {
  const std::string path = path_of(name);
  if (!f.present) {
    disk_.files.erase(path);
    return;
  }
  disk_.files[path].assign(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
}

std::span<const uint8_t> Conversions::bytes(const char* name) const {
  const auto it = disk_.files.find(path_of(name));
  if (it == disk_.files.end()) return {};
  return {reinterpret_cast<const uint8_t*>(it->second.data()), it->second.size()};
}

int Conversions::convert(int tick_budget) {
  BudgetPlatform platform(tick_budget);
  // Value-initialised, as make_run_context makes it.
  RunContext* ctx = ::new (storage_) RunContext(platform, &disk_);
  // The context goes when the run ends, however it ends; the windows stay for the next run.
  struct Done {
    Conversions& c;
    RunContext* ctx;
    ~Done() {
      c.window_a_ = std::move(ctx->drv.cursor_a);
      c.window_b_ = std::move(ctx->drv.cursor_b);
      ctx->~RunContext();
    }
  } done{*this, ctx};
  init_pool(ctx->pool);
  ctx->drv.cursor_a = std::move(window_a_);
  ctx->drv.cursor_b = std::move(window_b_);
  ctx->drv.cursor_a.invalidate();
  ctx->drv.cursor_b.invalidate();
  quiet_streams(*ctx);
  ctx->home = folder_.path();
  // One thread unless QUORDA_THREADS says otherwise: starting the measuring thread and its ring
  // takes about two thirds of the time of a short run, and the output is the same either way.
  if (std::getenv("QUORDA_THREADS") == nullptr) ctx->threads = 1;
  const std::string raw = path_of(kRawName);
  const char* argv[] = {"quorda", raw.c_str(), "/e"};
  return run_quorda(*ctx, 3, argv);
}

Conversions& conversions() {
  static Conversions made;
  return made;
}

}  // namespace quorda::fuzz
