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
  // Closes the file; false when the close failed (the file counts as closed all the same). The
  // destructor closes a file still open and ignores the result.
  virtual bool close() = 0;

  // The error of the last failed operation.
  FileError error() const { return error_; }

 protected:
  FileError error_;
};

enum class OpenMode {
  kRead,            // read only; the file must exist
  kUpdate,          // read and write; the file must exist
  kUpdateOrCreate,  // read and write; a missing file is created empty
};

class Files {
 public:
  virtual ~Files() = default;
  // Null on failure, with *err set.
  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) = 0;
  virtual bool exists(const std::string& path) = 0;
  virtual bool remove(const std::string& path, FileError* err) = 0;
};

// The files of this machine through the POSIX calls.
std::unique_ptr<Files> make_posix_files();

}  // namespace quorda
