// The file room on POSIX: the open modes, whole-buffer positioned reads and writes, append, size,
// truncate, sync, existence and removal, 64-bit positions, and the errors with their texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::ScratchDir;

std::string content(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class PosixFiles : public ::testing::Test {
 protected:
  std::unique_ptr<Files> files = make_posix_files();
  ScratchDir dir;
  std::string path = dir.file("V26150_1.hd");
};

TEST_F(PosixFiles, MissingFilesOpenOnlyForCreationAndTellWhy) {
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

TEST_F(PosixFiles, PositionedWritesAndReadsMoveNothingElse) {
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

TEST_F(PosixFiles, ReadOnlyFilesRefuseWritesWithTheSystemsError) {
  { std::ofstream(path) << "raw"; }
  FileError err;
  auto f = files->open(path, OpenMode::kRead, &err);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(f->write_at(0, "x", 1));
  EXPECT_EQ(f->error().code, EBADF);
  EXPECT_EQ(file_error_text(f->error()), std::strerror(EBADF));
  EXPECT_EQ(content(path), "raw");
}

TEST_F(PosixFiles, PositionsBeyondThirtyTwoBitsReachTheFile) {
  FileError err;
  auto f = files->open(path, OpenMode::kUpdateOrCreate, &err);
  ASSERT_NE(f, nullptr);
  const int64_t far = (int64_t{5} << 30) + 3;  // 5 GiB and 3 bytes, in a sparse file
  if (!f->write_at(far, "end", 3)) GTEST_SKIP() << "no large sparse files here";
  int64_t size = 0;
  ASSERT_TRUE(f->size(&size));
  EXPECT_EQ(size, far + 3);
  char buf[3];
  size_t got = 0;
  ASSERT_TRUE(f->read_at(far, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "end");
  ASSERT_TRUE(f->truncate(0));
}

}  // namespace
}  // namespace quorda
