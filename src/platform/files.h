// The file room: every file operation of the converter goes through Files (opening, existence,
// removal) and File (one open file). The application chooses the implementation and hands it
// down, so that a test can put one of its own in its place (one that injects faults, say).
//
// Positions and sizes are 64-bit here; the file formats keep their 32-bit offsets above this
// layer. Reads and writes are positioned: a file has no current position of its own. A failed
// operation returns false and leaves its FileError in the file (or in the out-parameter of an
// open); its text is what perror would write after the tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quorda {

// A failure as an error number of the C library's errno set (ENOENT, EIO, ENOSPC, ...). An
// implementation on a system with codes of its own maps them onto this set. 0: no error.
struct FileError {
  int code = 0;
};

// The system's text for an error, as perror writes it after "tag: ".
std::string file_error_text(FileError e);

class File {
 public:
  virtual ~File() = default;

  // Reads up to n bytes at `pos` into data; *got tells how many came (fewer only at the end of
  // the file). False on a failure of the system.
  virtual bool read_at(int64_t pos, void* data, size_t n, size_t* got) = 0;
  // Writes the whole buffer at `pos` (the file grows as needed); false unless all n bytes went.
  virtual bool write_at(int64_t pos, const void* data, size_t n) = 0;
  // Writes the whole buffer at the end of the file.
  virtual bool append(const void* data, size_t n) = 0;
  virtual bool size(int64_t* bytes) = 0;
  virtual bool truncate(int64_t bytes) = 0;
  // Makes the data written so far durable (the data, not necessarily the metadata).
  virtual bool sync() = 0;
  // Asks the system to start writing the n bytes at `pos` to the disk, without waiting for them,
  // so that a later sync() has less left to wait for. A hint only: nothing to report.
  virtual void start_writeback(int64_t /*pos*/, size_t /*n*/) {}
  // Closes the file; false when the close failed (the file counts as closed all the same). The
  // destructor closes a file still open and ignores the result.
  virtual bool close() = 0;

  // The error of the last failed operation.
  FileError error() const { return error_; }

 protected:
  FileError error_;
};

// Every open takes regular files only, looked at without blocking (a pipe or a device is not
// waited on, nor read for ever); a folder gives EISDIR, any other kind EINVAL. The two modes that
// write do not follow a symbolic link at the path itself (ELOOP on POSIX).
enum class OpenMode {
  kRead,            // read only; the file must exist
  kUpdate,          // read and write; the file must exist
  kUpdateOrCreate,  // read and write; a missing file is created empty
};

// What a path names. kMissing also when it cannot be looked at.
enum class FileKind { kMissing, kRegular, kFolder, kLink, kOther };

// The outcome of taking a lock: taken, held by another process, or failed (the error given).
enum class LockState { kTaken, kBusy, kFailed };

class Files {
 public:
  virtual ~Files() = default;
  // Null on failure, with *err set.
  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) = 0;
  virtual bool exists(const std::string& path) = 0;
  virtual bool remove(const std::string& path, FileError* err) = 0;

  // The defaults below suit a file room without folders, links or other processes (a test's room
  // in memory); the rooms of the machine say what the system has.

  // What `path` names; with follow_links a symbolic link counts as what it points to (kMissing
  // when it points nowhere), without it as kLink.
  virtual FileKind kind(const std::string& path, bool follow_links);
  // Whether the two paths name one existing file (the same file of the same device).
  virtual bool same_file(const std::string& a, const std::string& b);
  // Makes the entries of the folder `dir` durable ("" is the current folder), so that files just
  // created in it survive a power cut. Nothing to do where the system keeps folders durable.
  virtual bool sync_folder(const std::string& dir, FileError* err);
  // Takes the exclusive lock of the file `path` (created when missing) without waiting. It stays
  // in *held until that file is closed or the process ends, however it ends, and is never a
  // stale lock to remove. The taker's process id is written into the file; kBusy when another
  // process holds the lock, its process id then in *holder (0 when the file does not tell it).
  virtual LockState lock(const std::string& path, std::unique_ptr<File>* held, int64_t* holder,
                         FileError* err);
};

// Opens a text file for writing as fopen does with "w" (append: "a"), but does not follow a
// symbolic link at `path` (a reparse point on Windows) and takes only a regular file, looked at without
// blocking. Null on failure, with errno set (ELOOP for a link, EACCES on Windows, EISDIR for a folder, EINVAL
// for a pipe or a device).
std::FILE* open_text_output(const std::string& path, bool append);

#ifdef _WIN32
// The files of this machine through the Windows file calls.
std::unique_ptr<Files> make_windows_files();
inline std::unique_ptr<Files> make_system_files() {
  return make_windows_files();
}
#else
// The files of this machine through the POSIX calls.
std::unique_ptr<Files> make_posix_files();
inline std::unique_ptr<Files> make_system_files() {
  return make_posix_files();
}
#endif

}  // namespace quorda
