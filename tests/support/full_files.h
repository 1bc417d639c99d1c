// Test support: a file room whose files behave as a full disk: every open succeeds, every write,
// append and truncation fails with ENOSPC, reads find nothing. Stands in for the full device of
// Linux on every system.
#pragma once

#include <cerrno>
#include <memory>
#include <string>

#include "platform/files.h"

namespace quorda::testing {

class FullFiles : public Files {
 public:
  std::unique_ptr<File> open(const std::string&, OpenMode, FileError*) override {
    return std::make_unique<FullFile>();
  }
  bool exists(const std::string&) override { return true; }
  bool remove(const std::string&, FileError* err) override {
    *err = FileError{EACCES};
    return false;
  }

 private:
  class FullFile : public File {
   public:
    bool read_at(int64_t, void*, size_t, size_t* got) override {
      *got = 0;
      return true;
    }
    bool write_at(int64_t, const void*, size_t) override { return full(); }
    bool append(const void*, size_t) override { return full(); }
    bool size(int64_t* bytes) override {
      *bytes = 0;
      return true;
    }
    bool truncate(int64_t) override { return full(); }
    bool sync() override { return true; }
    bool close() override { return true; }

   private:
    bool full() {
      error_ = FileError{ENOSPC};
      return false;
    }
  };
};

}  // namespace quorda::testing
