// The raw file and its record framing, read through windowed cursors.
#include "rawin/raw_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "base/bytes.h"
#include "base/constants.h"

namespace quorda {

RawFile::~RawFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool RawFile::close() {
  if (fd_ < 0) return true;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

bool RawFile::measure_end(int32_t* end, bool* clamped) {
  *clamped = false;
  struct stat st;
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  if (::fstat(fd_, &st) != 0) return false;
  if (st.st_size > INT32_MAX) {
    *end = INT32_MAX;
    *clamped = true;
  } else {
    *end = static_cast<int32_t>(st.st_size);
  }
  return true;
}

RawCursor::RawCursor(size_t window_bytes) {
  size_t least = kRecordHeadSize + static_cast<size_t>(kMaxPayload);
  buf_.resize(window_bytes < least ? least : window_bytes);
}

ReadStatus RawCursor::read(const RawFile& file, int32_t pos, int32_t end, RawRecord* rec) {
  // Makes [pos, pos + n) present in the window, as far as the file holds it before `end`.
  auto ensure = [&](int64_t from, size_t n) -> bool {
    if (from >= win_start_ && from + static_cast<int64_t>(n) <= win_start_ + static_cast<int64_t>(win_len_)) {
      return true;
    }
    size_t want = buf_.size();
    if (from + static_cast<int64_t>(want) > end) want = static_cast<size_t>(end - from);
    size_t got = 0;
    while (got < want) {
      ssize_t r = ::pread(file.fd(), buf_.data() + got, want - got, from + static_cast<int64_t>(got));
      if (r < 0) {
        if (errno == EINTR) continue;
        win_len_ = 0;
        return false;
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    win_start_ = from;
    win_len_ = got;
    return true;
  };

  if (pos < 0 || static_cast<int64_t>(pos) + static_cast<int64_t>(kRecordHeadSize) > end) {
    return ReadStatus::kShortHead;
  }
  if (!ensure(pos, kRecordHeadSize)) return ReadStatus::kIoError;
  size_t off = static_cast<size_t>(pos - win_start_);
  if (off + kRecordHeadSize > win_len_) return ReadStatus::kShortHead;  // the file shrank
  rec->kind = get_i16(&buf_[off]);
  rec->cmpr_n = get_i16(&buf_[off + 2]);
  if (rec->cmpr_n < 0) return ReadStatus::kNegativeLength;
  int64_t payload_end = static_cast<int64_t>(pos) + static_cast<int64_t>(kRecordHeadSize) + rec->cmpr_n;
  if (payload_end > end) return ReadStatus::kBeyondEnd;
  size_t total = kRecordHeadSize + static_cast<size_t>(rec->cmpr_n);
  if (!ensure(pos, total)) return ReadStatus::kIoError;
  off = static_cast<size_t>(pos - win_start_);
  if (off + total > win_len_) return ReadStatus::kBeyondEnd;
  rec->payload = buf_.data() + off + kRecordHeadSize;
  return ReadStatus::kOk;
}

}  // namespace quorda
