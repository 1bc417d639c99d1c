// Test support: scratch folders whose path fits a folder setting of QUORDA.SET. Its value stands
// from column 61 of a line the converter reads 79 characters of, so a folder of more than 19
// characters is cut short there and the run writes elsewhere. In memory where the machine has a
// memory file system, since the runs of a test rewrite files there again and again.
#pragma once

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace quorda::testing {

// The longest folder a settings line holds in full.
inline constexpr size_t kSettingsFolderMax = 79 - 60;

// Makes a fresh folder named `prefix` and some characters, and returns its path ending in a
// separator; "" when none could be made or its path is too long for a settings line.
inline std::string make_short_folder(const std::string& prefix) {
  std::string path;
#ifdef _WIN32
  // The temporary folder itself is deep (C:\Users\<name>\AppData\Local\Temp\): the folder goes
  // into the root of its drive, named by the process id and a counter.
  static int made = 0;
  std::error_code ec;
  const std::filesystem::path root = std::filesystem::temp_directory_path(ec).root_path();
  for (int tries = 0; tries < 1000 && path.empty(); ++tries) {
    std::filesystem::path p = root / (prefix + std::to_string(::_getpid()) + "-" + std::to_string(++made));
    if (std::filesystem::create_directory(p, ec)) path = p.make_preferred().string() + "\\";
  }
#else
  const bool shm = ::access("/dev/shm", W_OK) == 0;
  std::string tmpl = std::string(shm ? "/dev/shm/" : "/tmp/") + prefix + "XXXXXX";
  if (::mkdtemp(tmpl.data()) != nullptr) path = tmpl + "/";
#endif
  if (path.size() > kSettingsFolderMax) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return std::string();
  }
  return path;
}

// A short scratch folder (see make_short_folder), removed with its content at destruction.
class ShortDir {
 public:
  ShortDir() : path_(make_short_folder("qpc")) {}
  ~ShortDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ShortDir(const ShortDir&) = delete;
  ShortDir& operator=(const ShortDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quorda::testing
