// The file room of this system (POSIX or Windows): the open modes, whole-buffer positioned reads and writes,
// append, size, truncate, sync, existence and removal, 64-bit positions, and the errors with their texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/test_context.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace quorda {
namespace {

int64_t this_process() {
#ifdef _WIN32
  return _getpid();
#else
  return ::getpid();
#endif
}

using testing::ScratchDir;

std::string content(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class SystemFiles : public ::testing::Test {
 protected:
  std::unique_ptr<Files> files = make_system_files();
  ScratchDir dir;
  std::string path = dir.file("V26150_1.hd");
};

TEST_F(SystemFiles, MissingFilesOpenOnlyForCreationAndTellWhy) {
  FileError err;
  EXPECT_EQ(files->open(path, OpenMode::kRead, &err), nullptr);
  EXPECT_EQ(err.code, ENOENT);
  EXPECT_EQ(file_error_text(err), std::strerror(ENOENT));
  err = {};
  EXPECT_EQ(files->open(path, OpenMode::kUpdate, &err), nullptr);
  EXPECT_EQ(err.code, ENOENT);
  EXPECT_FALSE(files->exists(path));

  auto f = files->open(path, OpenMode::kUpdateOrCreate, &err);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(files->exists(path));
  int64_t size = -1;
  ASSERT_TRUE(f->size(&size));
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(f->close());
  EXPECT_TRUE(files->remove(path, &err));
  EXPECT_FALSE(files->exists(path));
  EXPECT_FALSE(files->remove(path, &err));
  EXPECT_EQ(err.code, ENOENT);
}

TEST_F(SystemFiles, PositionedWritesAndReadsMoveNothingElse) {
  FileError err;
  auto f = files->open(path, OpenMode::kUpdateOrCreate, &err);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->write_at(0, "abcdef", 6));
  ASSERT_TRUE(f->write_at(2, "XY", 2));
  ASSERT_TRUE(f->append("gh", 2));
  // A write past the end leaves a hole of zero bytes.
  ASSERT_TRUE(f->write_at(10, "z", 1));
  int64_t size = 0;
  ASSERT_TRUE(f->size(&size));
  EXPECT_EQ(size, 11);
  EXPECT_EQ(content(path), std::string("abXYefgh\0\0z", 11));

  char buf[8] = {};
  size_t got = 0;
  ASSERT_TRUE(f->read_at(6, buf, 8, &got));
  EXPECT_EQ(got, 5u);  // short only at the end of the file
  EXPECT_EQ(std::string(buf, got), std::string("gh\0\0z", 5));
  ASSERT_TRUE(f->read_at(20, buf, 4, &got));
  EXPECT_EQ(got, 0u);

  ASSERT_TRUE(f->truncate(4));
  ASSERT_TRUE(f->sync());
  EXPECT_EQ(content(path), "abXY");
  EXPECT_TRUE(f->close());
  EXPECT_TRUE(f->close());  // a second close has nothing to do
}

TEST_F(SystemFiles, ReadOnlyFilesRefuseWritesWithTheSystemsError) {
  { std::ofstream(path) << "raw"; }
  FileError err;
  auto f = files->open(path, OpenMode::kRead, &err);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(f->write_at(0, "x", 1));
  EXPECT_EQ(f->error().code, EBADF);
  EXPECT_EQ(file_error_text(f->error()), std::strerror(EBADF));
  EXPECT_EQ(content(path), "raw");
}

TEST_F(SystemFiles, PositionsBeyondThirtyTwoBitsReachTheFile) {
  FileError err;
  auto f = files->open(path, OpenMode::kUpdateOrCreate, &err);
  ASSERT_NE(f, nullptr);
  const int64_t beyond = (int64_t{5} << 30) + 3;  // 5 GiB and 3 bytes, in a sparse file
  if (!f->write_at(beyond, "end", 3)) GTEST_SKIP() << "no large sparse files here";
  int64_t size = 0;
  ASSERT_TRUE(f->size(&size));
  EXPECT_EQ(size, beyond + 3);
  char buf[3];
  size_t got = 0;
  ASSERT_TRUE(f->read_at(beyond, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "end");
  ASSERT_TRUE(f->truncate(0));
}

// The lock of an output set: a second taker, even through another handle of the same process, is
// told the set is busy and by whom, until the first one's file is closed.
TEST_F(SystemFiles, ALockHoldsAgainstAnyOtherTakerUntilItsFileIsClosed) {
  const std::string lock = dir.file("V26150_1.lock");
  std::unique_ptr<File> first;
  std::unique_ptr<File> second;
  int64_t holder = -1;
  FileError err;
  ASSERT_EQ(files->lock(lock, &first, &holder, &err), LockState::kTaken) << err.code;
  EXPECT_EQ(files->lock(lock, &second, &holder, &err), LockState::kBusy);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(holder, this_process());
  first.reset();
  EXPECT_EQ(files->lock(lock, &second, &holder, &err), LockState::kTaken) << err.code;
}

}  // namespace
}  // namespace quorda
