// The raw file and its record framing, read through windowed cursors.
#include "rawin/raw_file.h"

#include <cerrno>
#include <climits>

#include "base/bytes.h"
#include "base/constants.h"
#include "format/raw_record.h"

namespace quorda {

RawFile::~RawFile() = default;

bool RawFile::open(Files& files, const std::string& path) {
  if (file_ != nullptr) close();
  FileError err;
  file_ = files.open(path, OpenMode::kRead, &err);
  if (file_ == nullptr) errno = err.code;
  return file_ != nullptr;
}

bool RawFile::close() {
  if (file_ == nullptr) return true;
  const bool ok = file_->close();
  if (!ok) errno = file_->error().code;
  file_.reset();
  return ok;
}

bool RawFile::measure_end(int32_t* end, bool* clamped) {
  *clamped = false;
  if (file_ == nullptr) {
    errno = EBADF;
    return false;
  }
  int64_t size = 0;
  if (!file_->size(&size)) {
    errno = file_->error().code;
    return false;
  }
  if (size > INT32_MAX) {
    *end = INT32_MAX;
    *clamped = true;
  } else {
    *end = static_cast<int32_t>(size);
  }
  return true;
}

bool RawFile::read_at(int64_t pos, void* data, size_t n, size_t* got) const {
  if (file_ == nullptr) {
    *got = 0;
    errno = EBADF;
    return false;
  }
  if (file_->read_at(pos, data, n, got)) return true;
  errno = file_->error().code;
  return false;
}

RawCursor::RawCursor(size_t window_bytes) {
  const size_t least = kRecordHeadSize + static_cast<size_t>(kMaxPayload);
  window_ = window_bytes < least ? least : window_bytes;
}

ReadStatus RawCursor::read(const RawFile& file, int32_t pos, int32_t end, RawRecord* rec) {
  // Makes [pos, pos + n) present in the window, as far as the file holds it before `end`.
  auto ensure = [&](int64_t from, size_t n) -> bool {
    if (from >= win_start_ && from + static_cast<int64_t>(n) <= win_start_ + static_cast<int64_t>(win_len_)) {
      return true;
    }
    if (buf_.size() != window_) buf_.resize(window_);
    size_t want = buf_.size();
    if (from + static_cast<int64_t>(want) > end) want = static_cast<size_t>(end - from);
    size_t got = 0;
    if (!file.read_at(from, buf_.data(), want, &got)) {
      win_len_ = 0;
      return false;
    }
    win_start_ = from;
    win_len_ = got;
    return true;
  };

  if (pos < 0 || static_cast<int64_t>(pos) + static_cast<int64_t>(kRecordHeadSize) > end) {
    return ReadStatus::kShortHead;
  }
  if (!ensure(pos, kRecordHeadSize)) return ReadStatus::kIoError;
  auto off = static_cast<size_t>(pos - win_start_);
  if (off + kRecordHeadSize > win_len_) return ReadStatus::kShortHead;  // the file shrank
  const RawRecordHead head = get_record_head(&buf_[off]);
  rec->kind = head.kind;
  rec->payload_len = head.payload_len;
  if (rec->payload_len < 0) return ReadStatus::kNegativeLength;
  int64_t payload_end = static_cast<int64_t>(pos) + static_cast<int64_t>(kRecordHeadSize) + rec->payload_len;
  if (payload_end > end) return ReadStatus::kBeyondEnd;
  size_t total = kRecordHeadSize + static_cast<size_t>(rec->payload_len);
  if (!ensure(pos, total)) return ReadStatus::kIoError;
  off = static_cast<size_t>(pos - win_start_);
  if (off + total > win_len_) return ReadStatus::kBeyondEnd;
  rec->payload = buf_.data() + off + kRecordHeadSize;
  return ReadStatus::kOk;
}

}  // namespace quorda
