// OutFile: a current position, append mode and gathered writes over a File of the file room.
#include "platform/out_file.h"

#include <cerrno>
#include <climits>

namespace quorda {

namespace {

// Room for gathered writes: the minute tables and heads of the output set fit at once; larger
// writes go to the file directly.
constexpr size_t kPendingBytes = size_t{1} << 16;

}  // namespace

OutFile::~OutFile() {
  close();
}

bool OutFile::fail(FileError e) {
  errno = e.code;
  return false;
}

bool OutFile::open(Files& files, const std::string& path, Mode mode) {
  if (file_ != nullptr) close();
  path_ = path;
  FileError err;
  file_ = files.open(path, mode == Mode::kAppend ? OpenMode::kUpdateOrCreate : OpenMode::kUpdate, &err);
  if (file_ == nullptr) return fail(err);
  append_mode_ = mode == Mode::kAppend;
  eof_ = false;
  pos_ = 0;
  pending_.clear();
  pending_.reserve(kPendingBytes);
  if (!file_->size(&end_)) {
    const FileError e = file_->error();
    file_.reset();
    return fail(e);
  }
  return true;
}

bool OutFile::flush_pending() {
  if (pending_.empty()) return true;
  const bool ok = file_->write_at(pending_at_, pending_.data(), pending_.size());
  pending_.clear();
  return ok || fail(file_->error());
}

bool OutFile::close() {
  if (file_ == nullptr) return true;
  bool ok = flush_pending();
  FileError first = ok ? FileError{} : FileError{errno};
  if (!file_->close() && ok) {
    ok = false;
    first = file_->error();
  }
  file_.reset();
  return ok || fail(first);
}

bool OutFile::commit() {
  if (file_ == nullptr) return fail(FileError{EBADF});
  return flush_pending();
}

bool OutFile::seek(int32_t pos) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  if (pos < 0) return fail(FileError{EINVAL});
  if (!flush_pending()) return false;
  pos_ = pos;
  eof_ = false;
  return true;
}

bool OutFile::seek_end() {
  if (file_ == nullptr) return fail(FileError{EBADF});
  if (!flush_pending()) return false;
  pos_ = end_;
  eof_ = false;
  return true;
}

int32_t OutFile::tell() {
  if (file_ == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (pos_ > INT32_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<int32_t>(pos_);
}

bool OutFile::write(const void* data, size_t n) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  if (n == 0) return true;
  if (append_mode_) pos_ = end_;
  const bool follows = !pending_.empty() && pos_ == pending_at_ + static_cast<int64_t>(pending_.size());
  if ((!pending_.empty() && !follows) || pending_.size() + n > kPendingBytes) {
    if (!flush_pending()) return false;
  }
  if (n >= kPendingBytes) {
    if (!file_->write_at(pos_, data, n)) return fail(file_->error());
  } else {
    if (pending_.empty()) pending_at_ = pos_;
    const auto* p = static_cast<const uint8_t*>(data);
    pending_.insert(pending_.end(), p, p + n);
  }
  pos_ += static_cast<int64_t>(n);
  if (pos_ > end_) end_ = pos_;
  return true;
}

bool OutFile::append(const void* data, size_t n) {
  return seek_end() && write(data, n);
}

bool OutFile::read(void* data, size_t n) {
  if (file_ == nullptr) return fail(FileError{EBADF});
  if (n == 0) return true;
  if (!flush_pending()) return false;
  size_t got = 0;
  const bool ok = file_->read_at(pos_, data, n, &got);
  pos_ += static_cast<int64_t>(got);
  if (!ok) return fail(file_->error());
  if (got < n) {
    eof_ = true;
    return false;
  }
  return true;
}

}  // namespace quorda
