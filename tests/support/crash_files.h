// Test support: a file room that loses power. It passes every operation to the machine's file room
// and keeps, per file, what the disk holds for certain (the bytes as of the file's last sync) and
// the writes made since. A power cut after the N-th write throws PowerCut out of the run; settle()
// then leaves each file as the disk could hold it afterwards: every write since the file's last
// sync kept, dropped, torn at a 512-byte boundary (the sectors before the boundary written, the
// rest not), or a mix of the three; or each 512-byte sector of every such write old or new on its
// own (a file grown by a write is grown up to its last new sector, the old ones there zero). It can also make
// the N-th write or sync fail with an error.
//
// Writes of files opened for reading and writing are counted; the raw file is only read. A sync
// only moves the file's bytes into what the disk holds for certain: the machine's disk is not
// asked to sync, which keeps thousands of runs quick.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace quorda::testing {

// A disk in memory: files by path, for runs by the thousand without a system call for the files
// of the set.
class MemoryDisk : public Files {
 public:
  class MemoryFile : public File {
   public:
    explicit MemoryFile(std::string& bytes) : b_(bytes) {}
    bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
      const auto size = static_cast<int64_t>(b_.size());
      *got = pos >= size ? 0 : std::min(n, static_cast<size_t>(size - pos));
      if (*got > 0) std::memcpy(data, b_.data() + pos, *got);
      return true;
    }
    bool write_at(int64_t pos, const void* data, size_t n) override {
      const auto end = static_cast<size_t>(pos) + n;
      if (b_.size() < end) b_.resize(end, '\0');
      std::memcpy(b_.data() + pos, data, n);
      return true;
    }
    bool append(const void* data, size_t n) override {
      return write_at(static_cast<int64_t>(b_.size()), data, n);
    }
    bool size(int64_t* bytes) override {
      *bytes = static_cast<int64_t>(b_.size());
      return true;
    }
    bool truncate(int64_t bytes) override {
      b_.resize(static_cast<size_t>(bytes), '\0');
      return true;
    }
    bool sync() override { return true; }
    bool close() override { return true; }

   private:
    std::string& b_;
  };

  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    auto it = files.find(path);
    if (it == files.end()) {
      if (mode != OpenMode::kUpdateOrCreate) {
        *err = FileError{ENOENT};
        return nullptr;
      }
      it = files.emplace(path, std::string()).first;
    }
    return std::make_unique<MemoryFile>(it->second);
  }
  bool exists(const std::string& path) override { return files.count(path) != 0; }
  bool remove(const std::string& path, FileError* err) override {
    if (files.erase(path) == 1) return true;
    *err = FileError{ENOENT};
    return false;
  }

  std::map<std::string, std::string> files;
};

struct PowerCut {};  // thrown at the power cut; not an exception the converter knows

enum class Loss { kKept, kDropped, kTorn, kMixed, kSectors };

class CrashFiles : public Files {
 public:
  static constexpr int64_t kSector = 512;

  explicit CrashFiles(Files& disk) : disk_(disk) {}

  // The power fails right after the n-th write (1-based; 0 never).
  int64_t cut_after = 0;
  Loss loss = Loss::kKept;
  uint64_t seed = 1;  // for Loss::kMixed and Loss::kSectors
  // The n-th write (1-based) fails with `error`, having written the sectors of its first half;
  // the n-th sync fails with `error`; the n-th close fails with `error`.
  int64_t fail_write = 0;
  int64_t fail_sync = 0;
  int64_t fail_close = 0;
  int error = 0;

  int64_t writes = 0;  // writes made so far
  int64_t syncs = 0;
  int64_t closes = 0;

  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override;
  bool exists(const std::string& path) override { return disk_.exists(path); }
  bool remove(const std::string& path, FileError* err) override {
    state_.erase(path);
    return disk_.remove(path, err);
  }

  // After a power cut: every file as the disk could hold it.
  void settle();

 private:
  friend class CrashFile;
  struct Op {
    bool truncate = false;
    int64_t pos = 0;  // write position, or the new size
    std::string bytes;
  };
  struct State {
    std::string durable;  // what the disk holds for certain
    std::vector<Op> since_sync;
  };
  bool read_whole(const std::string& path, std::string* out);
  Loss loss_of(size_t op_index);
  uint64_t draw(uint64_t a, uint64_t b) const;
  void put_sectors(std::string& image, const Op& op, size_t op_index) const;

  Files& disk_;
  std::map<std::string, State> state_;
};

class CrashFile : public File {
 public:
  CrashFile(CrashFiles& room, CrashFiles::State& st, std::string path, std::unique_ptr<File> inner)
      : room_(room), st_(st), path_(std::move(path)), inner_(std::move(inner)) {}

  bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
    return inner_->read_at(pos, data, n, got) || fail_from_inner();
  }
  bool write_at(int64_t pos, const void* data, size_t n) override {
    const int64_t nth = ++room_.writes;
    if (nth == room_.fail_write) {
      // A short write: the sectors of the first half reach the file, then the error.
      const int64_t half = (pos + static_cast<int64_t>(n) / 2) / CrashFiles::kSector * CrashFiles::kSector;
      if (half > pos) put(pos, data, static_cast<size_t>(half - pos));
      error_ = FileError{room_.error};
      return false;
    }
    if (!put(pos, data, n)) return false;
    if (nth == room_.cut_after) throw PowerCut{};
    return true;
  }
  bool append(const void* data, size_t n) override {
    int64_t end = 0;
    return size(&end) && write_at(end, data, n);
  }
  bool size(int64_t* bytes) override { return inner_->size(bytes) || fail_from_inner(); }
  bool truncate(int64_t bytes) override {
    if (!inner_->truncate(bytes)) return fail_from_inner();
    st_.since_sync.push_back({true, bytes, {}});
    return true;
  }
  bool sync() override {
    if (++room_.syncs == room_.fail_sync) {
      error_ = FileError{room_.error};
      return false;
    }
    // What is durable is kept here; the machine's disk need not be bothered.
    std::string now;
    if (!room_.read_whole(path_, &now)) return false;
    st_.durable = now;
    st_.since_sync.clear();
    return true;
  }
  bool close() override {
    const bool ok = inner_->close();
    if (++room_.closes == room_.fail_close) {
      error_ = FileError{room_.error};
      return false;
    }
    return ok || fail_from_inner();
  }

 private:
  bool put(int64_t pos, const void* data, size_t n) {
    if (!inner_->write_at(pos, data, n)) return fail_from_inner();
    st_.since_sync.push_back({false, pos, std::string(static_cast<const char*>(data), n)});
    return true;
  }
  bool fail_from_inner() {
    error_ = inner_->error();
    return false;
  }

  CrashFiles& room_;
  CrashFiles::State& st_;
  std::string path_;
  std::unique_ptr<File> inner_;
};

inline bool CrashFiles::read_whole(const std::string& path, std::string* out) {
  FileError err;
  auto f = disk_.open(path, OpenMode::kRead, &err);
  int64_t n = 0;
  if (f == nullptr || !f->size(&n)) return false;
  out->assign(static_cast<size_t>(n), '\0');
  size_t got = 0;
  return f->read_at(0, out->data(), out->size(), &got) && got == out->size();
}

inline std::unique_ptr<File> CrashFiles::open(const std::string& path, OpenMode mode, FileError* err) {
  auto inner = disk_.open(path, mode, err);
  if (inner == nullptr || mode == OpenMode::kRead) return inner;
  auto it = state_.find(path);
  if (it == state_.end()) {
    State st;
    read_whole(path, &st.durable);  // a file found on disk is there for certain
    it = state_.emplace(path, std::move(st)).first;
  }
  return std::make_unique<CrashFile>(*this, it->second, path, std::move(inner));
}

inline uint64_t CrashFiles::draw(uint64_t a, uint64_t b) const {
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + a * 0xBF58476D1CE4E5B9ull + b * 0xD6E8FEB86659FD93ull;
  x ^= x >> 31;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 29;
  return x;
}

inline Loss CrashFiles::loss_of(size_t op_index) {
  if (loss != Loss::kMixed) return loss;
  return static_cast<Loss>(draw(op_index, 0) % 3);
}

// Each sector the write touches is old or new by its own draw.
inline void CrashFiles::put_sectors(std::string& image, const Op& op, size_t op_index) const {
  const int64_t end = op.pos + static_cast<int64_t>(op.bytes.size());
  for (int64_t s = op.pos / kSector * kSector; s < end; s += kSector) {
    if ((draw(op_index, static_cast<uint64_t>(s / kSector) + 1) & 1) == 0) continue;
    const int64_t from = std::max(s, op.pos);
    const int64_t to = std::min(s + kSector, end);
    if (static_cast<int64_t>(image.size()) < to) image.resize(static_cast<size_t>(to), '\0');
    std::memcpy(image.data() + from, op.bytes.data() + (from - op.pos), static_cast<size_t>(to - from));
  }
}

inline void CrashFiles::settle() {
  size_t k = 0;
  for (auto& [path, st] : state_) {
    std::string image = st.durable;
    for (const Op& op : st.since_sync) {
      const Loss l = loss_of(k++);
      if (l == Loss::kDropped) continue;
      if (op.truncate) {
        image.resize(static_cast<size_t>(op.pos), '\0');
        continue;
      }
      if (l == Loss::kSectors) {
        put_sectors(image, op, k - 1);
        continue;
      }
      int64_t len = static_cast<int64_t>(op.bytes.size());
      if (l == Loss::kTorn) {
        // The sectors up to the last boundary inside the write reach the disk.
        const int64_t cut = (op.pos + len - 1) / kSector * kSector;
        len = cut > op.pos ? cut - op.pos : 0;
      }
      if (len == 0) continue;
      const auto end = static_cast<size_t>(op.pos + len);
      if (image.size() < end) image.resize(end, '\0');
      std::memcpy(image.data() + op.pos, op.bytes.data(), static_cast<size_t>(len));
    }
    FileError err;
    auto f = disk_.open(path, OpenMode::kUpdateOrCreate, &err);
    if (f == nullptr || !f->truncate(0) || !f->write_at(0, image.data(), image.size())) continue;
    f->close();
    st.durable = image;
    st.since_sync.clear();
  }
}

}  // namespace quorda::testing
