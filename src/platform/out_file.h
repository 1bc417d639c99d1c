// OutFile: one file of the output set (hydrometeor, header or index file), held open for the run,
// on a File of the file room.
//
// Without any buffering or position of its own: every write is one positioned write of the whole
// buffer, so that a head reaches the file in one piece or not at all as far as a killed process
// goes, and sync() makes the file's data durable. Every operation reports success as a bool;
// after a failure errno holds the error of the file room, so that the caller's checkpoint tag
// reads as perror writes it. Positions and sizes are byte offsets from the start of the file.
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
  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Opens `path` for reading and writing through the file room; `create` makes a missing file. A
  // file that is already open is closed first.
  bool open(Files& files, const std::string& path, bool create);
  // Closes the file; false when the close failed (the file counts as closed all the same).
  bool close();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

  // The length of the file now, or -1 on failure.
  int64_t size();
  // Writes n bytes at `pos` with one positioned write; true only when all n were written.
  bool write_at(int64_t pos, const void* data, size_t n);
  // Reads exactly n bytes at `pos`; false on a short read (errno 0 when the file ended first).
  bool read_at(int64_t pos, void* data, size_t n);
  // Reads the whole file into `out`.
  bool read_all(std::vector<uint8_t>* out);
  // Cuts (or extends with zeros) the file to `size` bytes.
  bool truncate(int64_t size);
  // Makes the data written so far durable.
  bool sync();
  // Starts writing the n bytes at `pos` to the disk without waiting (a hint for a later sync).
  void start_writeback(int64_t pos, size_t n) {
    if (file_ != nullptr) file_->start_writeback(pos, n);
  }

 private:
  bool fail(FileError e);

  std::unique_ptr<File> file_;
  std::string path_;
};

}  // namespace quorda
