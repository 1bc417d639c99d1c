// OutFile: one file of the output set (hydrometeor, header or index file), held open for the run,
// on a File of the file room.
//
// It keeps the way of a C stream that the output set was written with: a current position,
// reads and writes at it, an append mode in which every write goes to the end, and writes
// gathered in a buffer of its own until they are committed (handed to the system in one write),
// the position moves or the file is read. Every operation reports success as a bool; after a
// failure errno holds the error of the file room, so that the caller's checkpoint tag reads as
// perror writes it. Positions are 32-bit signed offsets, as the files store them.
//
// Not thread-safe; the converter has one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace quorda {

class OutFile {
 public:
  enum class Mode {
    kAppend,  // created when missing; every write goes to the end of the file
    kUpdate,  // must exist; writes go to the current position
  };

  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Opens `path` through the file room. A file that is already open is closed first. The
  // position starts at 0.
  bool open(Files& files, const std::string& path, Mode mode);
  // Commits and closes the file; false when either failed (the file counts as closed all the
  // same).
  bool close();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

  // Hands everything written so far to the operating system.
  bool commit();
  bool seek(int32_t pos);
  bool seek_end();
  // The current offset, or -1 on failure (also when it does not fit 32 bits).
  int32_t tell();
  // Writes n bytes at the current position (at the end in append mode); true only when all were
  // taken.
  bool write(const void* data, size_t n);
  // Appends n bytes at the end of the file, wherever the position stood.
  bool append(const void* data, size_t n);
  // Reads exactly n bytes; false on a short read (at_eof() then tells whether the end was hit).
  bool read(void* data, size_t n);
  bool at_eof() const { return eof_; }

 private:
  bool fail(FileError e);
  bool flush_pending();

  std::unique_ptr<File> file_;
  std::string path_;
  bool append_mode_ = false;
  bool eof_ = false;
  int64_t pos_ = 0;  // current position
  int64_t end_ = 0;  // length of the file, pending bytes included
  std::vector<uint8_t> pending_;
  int64_t pending_at_ = 0;  // file offset of pending_[0]
};

}  // namespace quorda
