// The file room on POSIX: open/pread/pwrite/fstat/ftruncate/fdatasync/close, each retried when a
// signal interrupts it, with the errno of a failure kept as the file's error. Locks are locks of
// the open file (OFD locks where the system has them, else flock), which the system drops when the
// last descriptor of the file closes, at the latest when the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"

namespace quorda {

namespace {

// Permissions of a created file before the umask, as the C library's fopen uses.
constexpr mode_t kCreateMode = 0666;
// The process id in a lock file: one line, right-aligned in a field of fixed width, so that every
// taker writes the same bytes and a reader never meets a shorter id over a longer one.
constexpr char kHolderFormat[] = "%20lld\n";
constexpr size_t kHolderTextSize = 21;

// Opens `path` with `flags` without blocking on a pipe or a device and keeps the descriptor only
// for a regular file (the blocking mode then restored); -1 with *err set otherwise.
int open_regular(const std::string& path, int flags, FileError* err) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, kCreateMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *err = FileError{errno};
    return -1;
  }
  struct stat st;
  int e = 0;
  if (::fstat(fd, &st) != 0) {
    e = errno;
  } else if (!S_ISREG(st.st_mode)) {
    e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else {
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) e = errno;
  }
  if (e == 0) return fd;
  ::close(fd);
  *err = FileError{e};
  return -1;
}

// Takes the exclusive lock of the whole file without waiting: 0, or the errno of the failure
// (EAGAIN/EACCES/EWOULDBLOCK: another holder).
int try_lock(int fd) {
#ifdef F_OFD_SETLK
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
  if (errno != EINVAL) return errno;
    // A kernel without OFD locks.
#endif
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// The process id a lock file holds, 0 when it holds none.
int64_t holder_in(int fd) {
  char text[kHolderTextSize + 1] = {};
  ssize_t n;
  do {
    n = ::pread(fd, text, kHolderTextSize, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  const long long id = std::strtoll(text, nullptr, 10);
  return id > 0 ? id : 0;
}

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

  void start_writeback(int64_t pos, size_t n) override {
#ifdef __linux__
    ::sync_file_range(fd_, static_cast<off_t>(pos), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
#else
    (void)pos;
    (void)n;
#endif
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
    int flags = 0;
    switch (mode) {
      case OpenMode::kRead:
        flags |= O_RDONLY;
        break;
      case OpenMode::kUpdate:
        flags |= O_RDWR | O_NOFOLLOW;
        break;
      case OpenMode::kUpdateOrCreate:
        flags |= O_RDWR | O_CREAT | O_NOFOLLOW;
        break;
    }
    const int fd = open_regular(path, flags, err);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFile>(fd);
  }

  FileKind kind(const std::string& path, bool follow_links) override {
    struct stat st;
    const int rc = follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) return FileKind::kMissing;
    if (S_ISREG(st.st_mode)) return FileKind::kRegular;
    if (S_ISDIR(st.st_mode)) return FileKind::kFolder;
    if (S_ISLNK(st.st_mode)) return FileKind::kLink;
    return FileKind::kOther;
  }

  bool same_file(const std::string& a, const std::string& b) override {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
  }

  bool sync_folder(const std::string& dir, FileError* err) override {
    int fd;
    do {
      fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *err = FileError{errno};
      return false;
    }
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    // EINVAL: a file system that cannot sync a folder (and keeps none in a cache to lose).
    const int e = rc != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    if (e != 0) *err = FileError{e};
    return e == 0;
  }

  LockState lock(const std::string& path, std::unique_ptr<File>* held, int64_t* holder,
                 FileError* err) override {
    held->reset();
    *holder = 0;
    const int fd = open_regular(path, O_RDWR | O_CREAT | O_NOFOLLOW, err);
    if (fd < 0) return LockState::kFailed;
    const int e = try_lock(fd);
    if (e != 0) {
      const bool busy = e == EAGAIN || e == EACCES || e == EWOULDBLOCK;
      if (busy) *holder = holder_in(fd);
      ::close(fd);
      *err = FileError{e};
      return busy ? LockState::kBusy : LockState::kFailed;
    }
    // The id only informs a refused run; the lock holds without it.
    char text[kHolderTextSize + 1];
    std::snprintf(text, sizeof text, kHolderFormat, static_cast<long long>(::getpid()));
    auto file = std::make_unique<PosixFile>(fd);
    file->write_at(0, text, kHolderTextSize);
    *held = std::move(file);
    return LockState::kTaken;
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

std::FILE* open_text_output(const std::string& path, bool append) {
  FileError err;
  const int fd = open_regular(path, O_WRONLY | O_CREAT | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC), &err);
  if (fd < 0) {
    errno = err.code;
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, append ? "a" : "w");
  if (f == nullptr) {
    const int e = errno;
    ::close(fd);
    errno = e;
  }
  return f;
}

std::unique_ptr<Files> make_posix_files() {
  return std::make_unique<PosixFiles>();
}

}  // namespace quorda
