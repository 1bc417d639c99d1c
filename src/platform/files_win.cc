// The file room on Windows: CreateFile/ReadFile/WriteFile at 64-bit positions given with each
// call, GetFileSizeEx, the end of file set through the handle, FlushFileBuffers and CloseHandle.
// Files are opened for binary data (Windows translates nothing below the C library) and shared
// for reading and writing, so that the instrument's program can append to a raw file that a run
// is reading. The system's error codes are mapped onto the C library's errno set. A lock is a
// byte-range lock far beyond the data of its file (LockFileEx), which the system drops when the
// handle closes, at the latest when the process ends; the holder's process id at the start of the
// file stays readable.
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"

namespace quorda {

namespace {

// The largest piece one ReadFile or WriteFile call is given.
constexpr size_t kMaxChunk = size_t{1} << 30;
// The locked byte of a lock file: beyond any data, within what every file system addresses.
constexpr int64_t kLockedByte = int64_t{1} << 31;
// The process id in a lock file, as on POSIX: one line in a field of fixed width.
constexpr char kHolderFormat[] = "%20lld\n";
constexpr size_t kHolderTextSize = 21;

int errno_of(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

OVERLAPPED at(int64_t pos) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(static_cast<uint64_t>(pos) & 0xffffffffu);
  o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
  return o;
}

class WindowsFile : public File {
 public:
  explicit WindowsFile(HANDLE h) : h_(h) {}
  ~WindowsFile() override {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const size_t want = n - done < kMaxChunk ? n - done : kMaxChunk;
      OVERLAPPED o = at(pos + static_cast<int64_t>(done));
      DWORD r = 0;
      if (!::ReadFile(h_, p + done, static_cast<DWORD>(want), &r, &o)) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_HANDLE_EOF) break;
        *got = done;
        return failed(e);
      }
      if (r == 0) break;
      done += r;
    }
    *got = done;
    return true;
  }

  bool write_at(int64_t pos, const void* data, size_t n) override {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const size_t want = n - done < kMaxChunk ? n - done : kMaxChunk;
      OVERLAPPED o = at(pos + static_cast<int64_t>(done));
      DWORD w = 0;
      if (!::WriteFile(h_, p + done, static_cast<DWORD>(want), &w, &o)) return write_failed(::GetLastError());
      if (w == 0) return failed(ERROR_DISK_FULL);
      done += w;
    }
    return true;
  }

  bool append(const void* data, size_t n) override {
    int64_t end = 0;
    return size(&end) && write_at(end, data, n);
  }

  bool size(int64_t* bytes) override {
    LARGE_INTEGER s;
    if (!::GetFileSizeEx(h_, &s)) return failed(::GetLastError());
    *bytes = s.QuadPart;
    return true;
  }

  bool truncate(int64_t bytes) override {
    FILE_END_OF_FILE_INFO eof = {};
    eof.EndOfFile.QuadPart = bytes;
    if (!::SetFileInformationByHandle(h_, FileEndOfFileInfo, &eof, sizeof eof))
      return write_failed(::GetLastError());
    return true;
  }

  bool sync() override {
    if (!::FlushFileBuffers(h_)) return failed(::GetLastError());
    return true;
  }

  bool close() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok || failed(::GetLastError());
  }

 private:
  bool failed(DWORD e) {
    error_ = FileError{errno_of(e)};
    return false;
  }
  // A change refused on a handle opened for reading: as POSIX says it of such a descriptor.
  bool write_failed(DWORD e) {
    error_ = FileError{e == ERROR_ACCESS_DENIED ? EBADF : errno_of(e)};
    return false;
  }

  HANDLE h_;
};

// Opens a file of the disk, shared for reading and writing; anything else (a folder, a device, a
// pipe) is refused as on POSIX: EISDIR for a folder, EINVAL otherwise.
HANDLE open_handle(const std::string& path, DWORD access, DWORD disposition, FileError* err) {
  HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    // A folder cannot be opened as a file: said as POSIX says it.
    const DWORD attrs = ::GetFileAttributesA(path.c_str());
    const bool folder = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
    *err = FileError{folder ? EISDIR : errno_of(e)};
    return INVALID_HANDLE_VALUE;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    *err = FileError{EINVAL};
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// The volume and file number of an existing file or folder.
bool identity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = ::GetFileInformationByHandle(h, info);
  ::CloseHandle(h);
  return ok != 0;
}

class WindowsFiles : public Files {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
      case OpenMode::kRead:
        break;
      case OpenMode::kUpdate:
        access |= GENERIC_WRITE;
        break;
      case OpenMode::kUpdateOrCreate:
        access |= GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    }
    const HANDLE h = open_handle(path, access, disposition, err);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsFile>(h);
  }

  FileKind kind(const std::string& path, bool follow_links) override {
    const DWORD attrs = ::GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !follow_links) return FileKind::kLink;
    if ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::kFolder;
    return FileKind::kRegular;
  }

  bool same_file(const std::string& a, const std::string& b) override {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return identity(a, &ia) && identity(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }

  LockState lock(const std::string& path, std::unique_ptr<File>* held, int64_t* holder,
                 FileError* err) override {
    held->reset();
    *holder = 0;
    const HANDLE h = open_handle(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, err);
    if (h == INVALID_HANDLE_VALUE) return LockState::kFailed;
    auto file = std::make_unique<WindowsFile>(h);
    OVERLAPPED o = at(kLockedByte);
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) {
      const DWORD e = ::GetLastError();
      const bool busy = e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING;
      if (busy) {
        char text[kHolderTextSize + 1] = {};
        size_t got = 0;
        if (file->read_at(0, text, kHolderTextSize, &got) && got > 0) {
          const long long id = std::strtoll(text, nullptr, 10);
          *holder = id > 0 ? id : 0;
        }
      }
      *err = FileError{busy ? EAGAIN : errno_of(e)};
      return busy ? LockState::kBusy : LockState::kFailed;
    }
    // The id only informs a refused run; the lock holds without it.
    char text[kHolderTextSize + 1];
    std::snprintf(text, sizeof text, kHolderFormat, static_cast<long long>(::GetCurrentProcessId()));
    file->write_at(0, text, kHolderTextSize);
    *held = std::move(file);
    return LockState::kTaken;
  }

  bool exists(const std::string& path) override {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool remove(const std::string& path, FileError* err) override {
    if (::DeleteFileA(path.c_str())) return true;
    *err = FileError{errno_of(::GetLastError())};
    return false;
  }
};

}  // namespace

std::FILE* open_text_output(const std::string& path, bool append) {
  const DWORD attrs = ::GetFileAttributesA(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) {
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      errno = (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EACCES;
      return nullptr;
    }
  }
  std::FILE* f = std::fopen(path.c_str(), append ? "a" : "w");
  if (f != nullptr && ::GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
    std::fclose(f);
    errno = EINVAL;
    return nullptr;
  }
  return f;
}

std::unique_ptr<Files> make_windows_files() {
  return std::make_unique<WindowsFiles>();
}

}  // namespace quorda
