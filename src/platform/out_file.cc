// OutFile: checked operations on one open file of the output set.
#include "platform/out_file.h"

#include <cerrno>
#include <climits>

namespace quorda {

OutFile::~OutFile() {
  if (f_ != nullptr) std::fclose(f_);
}

bool OutFile::open(const std::string& path, const char* mode) {
  if (f_ != nullptr) close();
  path_ = path;
  f_ = std::fopen(path.c_str(), mode);
  return f_ != nullptr;
}

bool OutFile::close() {
  if (f_ == nullptr) return true;
  int rc = std::fclose(f_);
  f_ = nullptr;
  return rc == 0;
}

bool OutFile::commit() {
  if (f_ == nullptr) {
    errno = EBADF;
    return false;
  }
  return std::fflush(f_) == 0;
}

bool OutFile::seek(int32_t pos) {
  if (f_ == nullptr) {
    errno = EBADF;
    return false;
  }
  return std::fseek(f_, pos, SEEK_SET) == 0;
}

bool OutFile::seek_end() {
  if (f_ == nullptr) {
    errno = EBADF;
    return false;
  }
  return std::fseek(f_, 0, SEEK_END) == 0;
}

int32_t OutFile::tell() {
  if (f_ == nullptr) {
    errno = EBADF;
    return -1;
  }
  long pos = std::ftell(f_);
  if (pos < 0) return -1;
  if (pos > INT32_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<int32_t>(pos);
}

bool OutFile::write(const void* data, size_t n) {
  if (f_ == nullptr) {
    errno = EBADF;
    return false;
  }
  if (n == 0) return true;
  return std::fwrite(data, n, 1, f_) == 1;
}

bool OutFile::append(const void* data, size_t n) {
  return seek_end() && write(data, n);
}

bool OutFile::read(void* data, size_t n) {
  if (f_ == nullptr) {
    errno = EBADF;
    return false;
  }
  if (n == 0) return true;
  return std::fread(data, n, 1, f_) == 1;
}

bool OutFile::at_eof() const {
  return f_ != nullptr && std::feof(f_) != 0;
}

}  // namespace quorda
