// A raw file that grows while the converter reads it, cut in the middle of a record: the
// instrument's writer appends the rest of the record once the converter has read up to the end it
// was shown, before the converter measures the end again. One run must still give the files of the
// whole day.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "support/crash_files.h"
#include "support/memory_run.h"
#include "support/process.h"
#include "support/short_dir.h"

namespace quorda {
namespace {

using testing::convert;
using testing::MemoryDisk;
using testing::Outcome;
using testing::read_file;
using testing::ShortDir;

const char* const kSet[] = {"V26150_1.hyd", "V26150_1.hd", "V26150_1.abh"};

// The raw file as a writer still busy with it: `shown` bytes are there until the converter has
// read up to them; its next measure of the file's end finds the whole day.
class GrowingRaw : public Files {
 public:
  class Raw : public File {
   public:
    explicit Raw(GrowingRaw& g) : g_(g) {}
    bool read_at(int64_t pos, void* data, size_t n, size_t* got) override {
      const auto shown = static_cast<int64_t>(g_.shown);
      *got = pos >= shown ? 0 : std::min(n, static_cast<size_t>(shown - pos));
      if (*got > 0) std::memcpy(data, g_.whole.data() + pos, *got);
      if (pos + static_cast<int64_t>(n) >= shown) g_.read_to_end = true;
      return true;
    }
    bool write_at(int64_t, const void*, size_t) override { return false; }
    bool append(const void*, size_t) override { return false; }
    bool size(int64_t* bytes) override {
      // The writer appends the rest once the converter has read up to the end it was shown.
      if (g_.read_to_end && g_.shown < g_.whole.size()) {
        g_.shown = g_.whole.size();
        ++g_.grown;
      }
      *bytes = static_cast<int64_t>(g_.shown);
      return true;
    }
    bool truncate(int64_t) override { return false; }
    bool sync() override { return true; }
    bool close() override { return true; }

   private:
    GrowingRaw& g_;
  };

  GrowingRaw(MemoryDisk& disk, std::string raw_path) : disk_(disk), raw_path_(std::move(raw_path)) {}
  std::unique_ptr<File> open(const std::string& path, OpenMode mode, FileError* err) override {
    if (path == raw_path_) return std::make_unique<Raw>(*this);
    return disk_.open(path, mode, err);
  }
  bool exists(const std::string& path) override { return path == raw_path_ || disk_.exists(path); }
  bool remove(const std::string& path, FileError* err) override { return disk_.remove(path, err); }

  std::string whole;
  size_t shown = 0;
  bool read_to_end = false;
  int grown = 0;

 private:
  MemoryDisk& disk_;
  std::string raw_path_;
};

TEST(GrowingRaw, RecordCutByTheEndOfTheFileIsReadWhenTheWriterHasAppendedTheRest) {
  ShortDir dir;
  const std::string d = dir.path();
  ASSERT_FALSE(d.empty()) << "no scratch folder whose path fits a settings line";
  const int sim = testing::run_program(testing::tool_path("rainsim"),
                                       {"--quiet", "--duration", "20", "--header-every", "5", "--raw-path", d,
                                        "--hyd-path", d, "--out", d},
                                       d)
                      .status;
  ASSERT_EQ(sim, 0);
  const std::string raw = read_file(d + "V26150_1.ab");

  MemoryDisk whole_disk;
  whole_disk.files[d + "V26150_1.ab"] = raw;
  ASSERT_EQ(convert(d, whole_disk).status, 0);

  // Cuts inside the head and inside the payload of records of each kind: camera A and B line
  // blocks and main headers, early and late in the day.
  struct Cut {
    size_t at;
    int16_t kind;
  };
  std::vector<Cut> cuts;
  bool seen[4][2] = {};
  for (size_t pos = 0; pos + 4 <= raw.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data() + pos);
    const int16_t kind = get_i16(p);
    const int16_t len = get_i16(p + 2);
    const int half = pos < raw.size() / 2 ? 0 : 1;
    if (pos > 0 && kind >= 1 && kind <= 3 && !seen[kind][half] && len > 8) {
      seen[kind][half] = true;
      cuts.push_back({pos + 3, kind});
      cuts.push_back({pos + 4 + static_cast<size_t>(len) / 2, kind});
    }
    pos += 4 + static_cast<size_t>(len);
  }
  ASSERT_GE(cuts.size(), 10u);

  for (const Cut& c : cuts) {
    MemoryDisk disk;
    GrowingRaw room(disk, d + "V26150_1.ab");
    room.whole = raw;
    room.shown = c.at;
    const Outcome o = convert(d, room);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(room.grown, 1) << "cut at " << c.at;
    for (const char* f : kSet)
      EXPECT_TRUE(disk.files[d + f] == whole_disk.files[d + f])
          << f << " of a file cut at " << c.at << " in a record of kind " << c.kind;
  }
}

}  // namespace
}  // namespace quorda
