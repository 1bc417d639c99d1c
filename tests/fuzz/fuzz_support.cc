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
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/platform.h"
#include "support/day_files.h"
#include "support/short_dir.h"

namespace quorda::fuzz {

std::vector<InputFile> split_files(const uint8_t* data, size_t size, size_t n) {
  std::vector<InputFile> files(n);
  const size_t sep_len = sizeof kFileSeparator - 1;
  const uint8_t* const end = data + size;
  const uint8_t* at = data;
  for (size_t i = 0; i < n; ++i) {
    // The last file takes the rest of the input.
    const uint8_t* next = i + 1 == n
                              ? end
                              : std::search(at, end, kFileSeparator, kFileSeparator + sep_len,
                                            [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
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

void Folder::clear() const {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path_, ec)) std::filesystem::remove_all(e, ec);
}

void Folder::clear_outputs() const {
  for (const char* name : {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh", "res", "QUORDA.ERR"})
    std::remove((path_ + name).c_str());
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

void put_setup_files(const Folder& folder) {
  testing::SettingsValues s;
  s.raw_path = folder.path();
  s.hyd_path = folder.path();
  const std::string set = testing::settings_text(s);
  const std::string corr = testing::neutral_corrfact();
  folder.put("QUORDA.SET", {true, {reinterpret_cast<const uint8_t*>(set.data()), set.size()}});
  folder.put("corrfact.dat", {true, {reinterpret_cast<const uint8_t*>(corr.data()), corr.size()}});
}

}  // namespace

std::unique_ptr<RunContext> quiet_context(Platform* platform, const std::string& home) {
  // The machine's file room, shared by every context of the harness; it keeps no state.
  static const std::unique_ptr<Files> files = make_system_files();
  auto ctx = make_run_context(platform, files.get());
  // QUORDA_FUZZ_VERBOSE shows the run's messages, for looking into one input.
  const bool verbose = std::getenv("QUORDA_FUZZ_VERBOSE") != nullptr;
  ctx->diag.err = verbose ? stderr : null_stream();
  ctx->diag.out = verbose ? stderr : null_stream();
  ctx->home = home;
  return ctx;
}

const Folder& conversion_folder() {
  struct WithSetup {
    WithSetup() { put_setup_files(folder); }
    Folder folder;
  };
  static const WithSetup made;
  return made.folder;
}

}  // namespace quorda::fuzz
