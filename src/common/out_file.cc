// OutFile: checked operations on one open file of the output set.
#include "common/out_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorda {

namespace {

bool not_open() {
  errno = EBADF;
  return false;
}

}  // namespace

OutFile::~OutFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutFile::open(const std::string& path, bool create) {
  if (fd_ >= 0) close();
  path_ = path;
  int flags = O_RDWR | O_CLOEXEC;
  if (create) flags |= O_CREAT;
  fd_ = ::open(path.c_str(), flags, 0666);
  return fd_ >= 0;
}

bool OutFile::close() {
  if (fd_ < 0) return true;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

int64_t OutFile::size() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool OutFile::write_at(int64_t pos, const void* data, size_t n) {
  if (fd_ < 0) return not_open();
  if (n == 0) return true;
  errno = 0;
  const ssize_t w = ::pwrite(fd_, data, n, static_cast<off_t>(pos));
  if (w == static_cast<ssize_t>(n)) return true;
  if (w >= 0) errno = ENOSPC;  // cut short without a reason: the disk is full
  return false;
}

bool OutFile::read_at(int64_t pos, void* data, size_t n) {
  if (fd_ < 0) return not_open();
  auto* p = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < n) {
    errno = 0;
    const ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(pos) + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

bool OutFile::read_all(std::vector<uint8_t>* out) {
  const int64_t n = size();
  if (n < 0) return false;
  out->resize(static_cast<size_t>(n));
  return read_at(0, out->data(), out->size());
}

bool OutFile::truncate(int64_t size) {
  if (fd_ < 0) return not_open();
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool OutFile::sync() {
  if (fd_ < 0) return not_open();
  return ::fdatasync(fd_) == 0;
}

}  // namespace quorda
