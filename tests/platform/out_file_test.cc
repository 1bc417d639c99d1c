// OutFile over a file room of the test's own: append and update modes, writes gathered until
// they are committed, reads, the 32-bit position limit, and the errors a caller's tag reports.
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

TEST(OutFile, UpdateModeNeedsTheFileAndAppendModeCreatesIt) {
  MemoryFiles room;
  OutFile f;
  errno = 0;
  EXPECT_FALSE(f.open(room, "set.abh", OutFile::Mode::kUpdate));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(f.is_open());
  ASSERT_TRUE(f.open(room, "set.abh", OutFile::Mode::kAppend));
  EXPECT_TRUE(room.exists("set.abh"));
  EXPECT_EQ(f.tell(), 0);
}

TEST(OutFile, AppendModeWritesAtTheEndWhereverThePositionStands) {
  MemoryFiles room;
  room.data["set.hyd"].bytes = "0123456789";
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hyd", OutFile::Mode::kAppend));
  // Reading starts at the beginning.
  char two[2];
  ASSERT_TRUE(f.read(two, 2));
  EXPECT_EQ(std::string(two, 2), "01");
  ASSERT_TRUE(f.seek(3));
  ASSERT_TRUE(f.write("ab", 2));
  EXPECT_EQ(f.tell(), 12);
  ASSERT_TRUE(f.seek(0));
  ASSERT_TRUE(f.append("cd", 2));
  ASSERT_TRUE(f.commit());
  EXPECT_EQ(room.data["set.hyd"].bytes, "0123456789abcd");
}

TEST(OutFile, UpdateModeWritesAtThePosition) {
  MemoryFiles room;
  room.data["set.hd"].bytes = "0123456789";
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hd", OutFile::Mode::kUpdate));
  ASSERT_TRUE(f.seek(4));
  ASSERT_TRUE(f.write("ab", 2));
  EXPECT_EQ(f.tell(), 6);
  ASSERT_TRUE(f.seek_end());
  EXPECT_EQ(f.tell(), 10);
  ASSERT_TRUE(f.write("cd", 2));
  ASSERT_TRUE(f.close());
  EXPECT_EQ(room.data["set.hd"].bytes, "0123ab6789cd");
}

TEST(OutFile, WritesAreGatheredUntilCommittedOrTheFileIsRead) {
  MemoryFiles room;
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hd", OutFile::Mode::kAppend));
  std::vector<char> table(5768, 'x');
  ASSERT_TRUE(f.write(table.data(), table.size()));
  ASSERT_TRUE(f.write("ol", 2));
  EXPECT_TRUE(room.writes.empty());
  EXPECT_EQ(room.data["set.hd"].bytes, "");
  ASSERT_TRUE(f.commit());
  EXPECT_EQ(room.writes, (Writes{{0, 5770}}));

  // Writes that do not follow each other go one by one, in their order; a read hands the
  // gathered bytes over first and then sees them.
  ASSERT_TRUE(f.open(room, "set.hd", OutFile::Mode::kUpdate));
  room.writes.clear();
  ASSERT_TRUE(f.write("AB", 2));
  ASSERT_TRUE(f.seek(5768));
  ASSERT_TRUE(f.write("OL", 2));
  EXPECT_EQ(room.writes, (Writes{{0, 2}}));
  ASSERT_TRUE(f.seek(0));
  EXPECT_EQ(room.writes, (Writes{{0, 2}, {5768, 2}}));
  char head[2];
  ASSERT_TRUE(f.read(head, 2));
  EXPECT_EQ(std::string(head, 2), "AB");
  EXPECT_EQ(room.data["set.hd"].bytes.substr(5766), "xxOL");

  // A buffer larger than the gathering room goes to the file at once.
  room.writes.clear();
  std::vector<char> big(1 << 17, 'y');
  ASSERT_TRUE(f.append(big.data(), big.size()));
  EXPECT_EQ(room.writes, (Writes{{5770, big.size()}}));
}

TEST(OutFile, ShortReadsStopAtTheEndAndSayItWasTheEnd) {
  MemoryFiles room;
  room.data["set.abh"].bytes = "12345";
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.abh", OutFile::Mode::kUpdate));
  char buf[4];
  ASSERT_TRUE(f.read(buf, 4));
  EXPECT_FALSE(f.at_eof());
  EXPECT_FALSE(f.read(buf, 4));
  EXPECT_TRUE(f.at_eof());
  EXPECT_EQ(f.tell(), 5);
  ASSERT_TRUE(f.seek(0));
  EXPECT_FALSE(f.at_eof());
}

TEST(OutFile, FailuresLeaveTheFileRoomsErrorInErrno) {
  MemoryFiles room;
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hyd", OutFile::Mode::kAppend));
  room.fail_writes = ENOSPC;
  ASSERT_TRUE(f.write("record", 6));  // gathered: the failure comes with the commit
  errno = 0;
  EXPECT_FALSE(f.commit());
  EXPECT_EQ(errno, ENOSPC);
  std::vector<char> big(1 << 17, 'y');
  errno = 0;
  EXPECT_FALSE(f.write(big.data(), big.size()));
  EXPECT_EQ(errno, ENOSPC);

  OutFile closed;
  errno = 0;
  EXPECT_FALSE(closed.commit());
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(closed.tell(), -1);
}

TEST(OutFile, PositionsBeyondThirtyTwoBitsAreRefusedByTell) {
  MemoryFiles room;
  room.data["set.hyd"].phantom = int64_t{3} << 30;
  OutFile f;
  ASSERT_TRUE(f.open(room, "set.hyd", OutFile::Mode::kAppend));
  ASSERT_TRUE(f.seek_end());
  errno = 0;
  EXPECT_EQ(f.tell(), -1);
  EXPECT_EQ(errno, EOVERFLOW);
}

}  // namespace
}  // namespace quorda
