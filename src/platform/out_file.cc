// OutFile: checked positioned operations on one open file of the output set.
#include "platform/out_file.h"

#include <cerrno>

namespace quorda {

OutFile::~OutFile() {
  close();
}

bool OutFile::fail(FileError e) {
  errno = e.code;
  return false;
}

bool OutFile::open(Files& files, const std::string& path, bool create) {
  if (file_ != nullptr) close();
  path_ = path;
  FileError err;
  file_ = files.open(path, create ? OpenMode::kUpdateOrCreate : OpenMode::kUpdate, &err);
  return file_ != nullptr || fail(err);
}

bool OutFile::close() {
  if (file_ == nullptr) return true;
  const bool ok = file_->close();
  const FileError e = file_->error();
  file_.reset();
  return ok || fail(e);
}

int64_t OutFile::size() {
  if (file_ == nullptr) return fail(FileError{EBADF}) ? 0 : -1;
  int64_t n = 0;
  if (!file_->size(&n)) {
    fail(file_->error());
    return -1;
  }
  return n;
}

bool OutFile::write_at(int64_t pos, const void* data, size_t n) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  if (n == 0) return true;
  return file_->write_at(pos, data, n) || fail(file_->error());
}

bool OutFile::read_at(int64_t pos, void* data, size_t n) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  size_t got = 0;
  if (!file_->read_at(pos, data, n, &got)) return fail(file_->error());
  return got == n || fail(FileError{0});
}

bool OutFile::read_all(std::vector<uint8_t>* out) {
  const int64_t n = size();
  if (n < 0) return false;
  out->resize(static_cast<size_t>(n));
  return read_at(0, out->data(), out->size());
}

bool OutFile::truncate(int64_t size) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  return file_->truncate(size) || fail(file_->error());
}

bool OutFile::sync() {
  if (file_ == nullptr) return fail(FileError{EBADF});
  return file_->sync() || fail(file_->error());
}

}  // namespace quorda
