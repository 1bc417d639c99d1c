// OutFile: one file of the output set (hydrometeor, header or index file), held open for the run.
//
// A thin, checked wrapper over a C stream. Every operation reports success as a bool and leaves
// errno as the system set it, so that the caller can write its checkpoint tag. "Committing" the
// bytes written so far is a flush of the stream to the operating system; the files are never
// closed and reopened during a run. Positions are 32-bit signed offsets, as the files store them.
//
// Not thread-safe; the converter has one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quorda {

class OutFile {
 public:
  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Opens `path` with a C mode string ("a+b" creates a missing file, "r+b" needs it to exist).
  // A file that is already open is closed first.
  bool open(const std::string& path, const char* mode);
  // Closes the file; false when the close failed (the file counts as closed all the same).
  bool close();
  bool is_open() const { return f_ != nullptr; }
  const std::string& path() const { return path_; }

  // Hands everything written so far to the operating system.
  bool commit();
  bool seek(int32_t pos);
  bool seek_end();
  // The current offset, or -1 on failure (also when it does not fit 32 bits).
  int32_t tell();
  // Writes n bytes at the current position; true only when all were written.
  bool write(const void* data, size_t n);
  // Appends n bytes at the end of the file, wherever the position stood.
  bool append(const void* data, size_t n);
  // Reads exactly n bytes; false on a short read (at_eof() then tells whether the end was hit).
  bool read(void* data, size_t n);
  bool at_eof() const;

 private:
  FILE* f_ = nullptr;
  std::string path_;
};

}  // namespace quorda
