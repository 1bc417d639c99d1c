// The file room on POSIX: open/pread/pwrite/fstat/ftruncate/fdatasync/close, each retried when a
// signal interrupts it, with the errno of a failure kept as the file's error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace quorda {

namespace {

// Permissions of a created file before the umask, as the C library's fopen uses.
constexpr mode_t kCreateMode = 0666;

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t r =
          ::pread(fd_, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
      if (r < 0) {
        if (errno == EINTR) continue;
        *got = done;
        return failed();
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    *got = done;
    return true;
  }

  bool write_at(int64_t pos, const void* data, size_t n) override {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t r =
          ::pwrite(fd_, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
      if (r < 0) {
        if (errno == EINTR) continue;
        return failed();
      }
      done += static_cast<size_t>(r);
    }
    return true;
  }

  bool append(const void* data, size_t n) override {
    int64_t end = 0;
    return size(&end) && write_at(end, data, n);
  }

  bool size(int64_t* bytes) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return failed();
    *bytes = static_cast<int64_t>(st.st_size);
    return true;
  }

  bool truncate(int64_t bytes) override {
    while (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) {
      if (errno != EINTR) return failed();
    }
    return true;
  }

  bool sync() override {
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return failed();
    }
    return true;
  }

  bool close() override {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || failed();
  }

 private:
  bool failed() {
    error_ = FileError{errno};
    return false;
  }

  int fd_;
};

class PosixFiles : public Files {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead:
        flags |= O_RDONLY;
        break;
      case OpenMode::kUpdate:
        flags |= O_RDWR;
        break;
      case OpenMode::kUpdateOrCreate:
        flags |= O_RDWR | O_CREAT;
        break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, kCreateMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *err = FileError{errno};
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
  }

  bool exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  bool remove(const std::string& path, FileError* err) override {
    if (::unlink(path.c_str()) == 0) return true;
    *err = FileError{errno};
    return false;
  }
};

}  // namespace

std::unique_ptr<Files> make_posix_files() {
  return std::make_unique<PosixFiles>();
}

}  // namespace quorda
