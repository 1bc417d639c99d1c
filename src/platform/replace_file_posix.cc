// Replacing a file whole through the POSIX calls: fsync of the file, rename, fsync of the folder.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/replace_file.h"

namespace quorda {
namespace {

// fsync of the file or folder at `path`. A file system that cannot sync a folder (EINVAL) counts
// as done: it has nothing to make durable there.
bool sync_path(const std::string& path, int flags, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int e = errno;
  ::close(fd);
  if (!ok) *error = path + ": " + std::strerror(e);
  return ok;
}

}  // namespace

bool replace_file(const std::string& temp, const std::string& path, std::string* error) {
  if (!sync_path(temp, 0, error)) {
    std::remove(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return sync_path(folder.empty() ? std::string(".") : folder.string(), O_DIRECTORY, error);
}

}  // namespace quorda
