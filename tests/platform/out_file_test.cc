// OutFile over a file room of the test's own: opening with and without creation, every write one
// positioned write of the whole buffer, exact reads, and the errors a caller's tag reports.
#include "platform/out_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorda {
namespace {

// Files kept in memory; every write that reaches a file is logged as (offset, length). A write
// can be made to fail with a given error, and a file can claim to be longer than it is.
class MemoryFiles : public Files {
 public:
  struct Data {
    std::string bytes;
    int64_t phantom = 0;  // added to the size reported
  };

  class MemoryFile : public File {
   public:
    MemoryFile(MemoryFiles& room, Data& d) : room_(room), d_(d) {}
    bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
      const auto size = static_cast<int64_t>(d_.bytes.size());
      *got = pos >= size ? 0 : std::min(n, static_cast<size_t>(size - pos));
      if (*got > 0) std::memcpy(data, d_.bytes.data() + pos, *got);
      return true;
    }
    bool write_at(int64_t pos, const void* data, size_t n) override {
      room_.writes.emplace_back(pos, n);
      if (room_.fail_writes != 0) {
        error_ = FileError{room_.fail_writes};
        return false;
      }
      const auto end = static_cast<size_t>(pos) + n;
      if (d_.bytes.size() < end) d_.bytes.resize(end, '\0');
      std::memcpy(d_.bytes.data() + pos, data, n);
      return true;
    }
    bool append(const void* data, size_t n) override {
      return write_at(static_cast<int64_t>(d_.bytes.size()), data, n);
    }
    bool size(int64_t* bytes) override {
      *bytes = static_cast<int64_t>(d_.bytes.size()) + d_.phantom;
      return true;
    }
    bool truncate(int64_t bytes) override {
      d_.bytes.resize(static_cast<size_t>(bytes));
      return true;
    }
    bool sync() override { return true; }
    bool close() override { return true; }

   private:
    MemoryFiles& room_;
    Data& d_;
  };

  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    auto it = data.find(path);
    if (it == data.end()) {
      if (mode != OpenMode::kUpdateOrCreate) {
        *err = FileError{ENOENT};
        return nullptr;
      }
      it = data.emplace(path, Data{}).first;
    }
    return std::make_unique<MemoryFile>(*this, it->second);
  }
  bool exists(const std::string& path) override { return data.count(path) != 0; }
  bool remove(const std::string& path, FileError* err) override {
    if (data.erase(path) == 1) return true;
    *err = FileError{ENOENT};
    return false;
  }

  std::map<std::string, Data> data;
  std::vector<std::pair<int64_t, size_t>> writes;
  int fail_writes = 0;
};

using Writes = std::vector<std::pair<int64_t, size_t>>;
TEST(OutFile, OpeningWithoutCreateNeedsTheFileAndCreateMakesIt) {
  MemoryFiles room;
  OutFile f;
  errno = 0;
  EXPECT_FALSE(f.open(room, "set.abh", false));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(f.is_open());
  ASSERT_TRUE(f.open(room, "set.abh", true));
  EXPECT_EQ(f.size(), 0);
  EXPECT_EQ(f.path(), "set.abh");
  EXPECT_TRUE(room.exists("set.abh"));
}

TEST(OutFile, EveryWriteIsOnePositionedWriteOfTheWholeBuffer) {
  MemoryFiles room;
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hd", true));
  const std::string head(5770, 'h');
  ASSERT_TRUE(f.write_at(0, head.data(), head.size()));
  ASSERT_TRUE(f.write_at(5770, "rec", 3));
  ASSERT_TRUE(f.write_at(2, "xy", 2));
  EXPECT_EQ(room.writes, (Writes{{0, 5770}, {5770, 3}, {2, 2}}));
  EXPECT_EQ(f.size(), 5773);
  EXPECT_EQ(room.data["set.hd"].bytes.substr(0, 5), "hhxyh");
  ASSERT_TRUE(f.truncate(4));
  EXPECT_EQ(room.data["set.hd"].bytes, "hhxy");
  ASSERT_TRUE(f.sync());
}

TEST(OutFile, ReadsAreExactAndAShortReadSaysItWasTheEnd) {
  MemoryFiles room;
  room.data["set.hyd"].bytes = "0123456789";
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hyd", false));
  char b[4] = {};
  ASSERT_TRUE(f.read_at(3, b, 4));
  EXPECT_EQ(std::string(b, 4), "3456");
  errno = EIO;
  EXPECT_FALSE(f.read_at(8, b, 4));
  EXPECT_EQ(errno, 0);
  std::vector<uint8_t> all;
  ASSERT_TRUE(f.read_all(&all));
  EXPECT_EQ(std::string(all.begin(), all.end()), "0123456789");
}

TEST(OutFile, FailuresLeaveTheFileRoomsErrorInErrno) {
  MemoryFiles room;
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hyd", true));
  room.fail_writes = ENOSPC;
  errno = 0;
  EXPECT_FALSE(f.write_at(0, "abc", 3));
  EXPECT_EQ(errno, ENOSPC);
  ASSERT_TRUE(f.close());
  errno = 0;
  EXPECT_FALSE(f.write_at(0, "abc", 3));
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(f.sync());
  EXPECT_EQ(f.size(), -1);
}

}  // namespace
}  // namespace quorda
