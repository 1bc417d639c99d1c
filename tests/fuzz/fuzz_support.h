// Shared pieces of the fuzz harnesses: the harness entry points, the input split into files, a
// platform that cancels a run after a budget of ticks, and a run context whose streams go nowhere.
//
// Each harness is a function taking one input; built with QUORDA_LIBFUZZER it is also the
// fuzzer's entry (LLVMFuzzerTestOneInput), and the ordinary test suite replays the seed corpus of
// tests/fuzz/corpus/<harness>/ through the same function. Single-threaded.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "support/test_context.h"

namespace quorda::fuzz {

// The harnesses, one per entry point; each returns 0 as libFuzzer expects.
int line_block(const uint8_t* data, size_t size);
int raw_day(const uint8_t* data, size_t size);
int settings(const uint8_t* data, size_t size);
int corrfact(const uint8_t* data, size_t size);
int output_set(const uint8_t* data, size_t size);
int hydinfo(const uint8_t* data, size_t size);
int recovery(const uint8_t* data, size_t size);

// Marks the boundary between the files of one input (see split_files).
inline constexpr char kFileSeparator[] = "#~FILE~#";

// Splits an input into at most `n` files at each kFileSeparator; the last file takes the rest of
// the input. Files beyond those the input holds are absent.
struct InputFile {
  bool present = false;
  std::span<const uint8_t> bytes;
};
std::vector<InputFile> split_files(const uint8_t* data, size_t size, size_t n);

// Joins files into one input, the inverse of split_files (for making seeds).
std::vector<uint8_t> join_files(const std::vector<std::vector<uint8_t>>& files);

// A stream that discards what is written to it, opened once per process.
FILE* null_stream();

// A folder of its own for each harness, removed with its files at destruction. Its path is short
// ("/dev/shm/qXXXXXX/", else "/tmp/qf-XXXXXX/"; on Windows "C:\qf<process>-<n>\"): the settings
// file's lines hold it from column 61 within 79 characters.
class Folder {
 public:
  Folder();
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  // Removes every file of the folder.
  void clear() const;
  // Removes the files a conversion writes: the output set, "res" and QUORDA.ERR.
  void clear_outputs() const;
  // Writes a file of the folder (absent files are removed).
  void put(const std::string& name, const InputFile& f) const;
  // Ends in '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A fake platform that reports SIGTERM once the run has asked `budget` times for signals: the
// driver asks at every tick, so the work of one run is bounded whatever the input holds.
class BudgetPlatform : public testing::FakePlatform {
 public:
  explicit BudgetPlatform(int budget) : budget_(budget) {}
  int pending_signal() override { return ++asked_ > budget_ ? SIGTERM : 0; }
  int asked() const { return asked_; }

 private:
  int budget_;
  int asked_ = 0;
};

// A run context on the given platform with both streams going nowhere (to standard error when
// QUORDA_FUZZ_VERBOSE is set) and home in `home`.
std::unique_ptr<RunContext> quiet_context(Platform* platform, const std::string& home);

// A folder, made once per process, holding the settings and correction files of a conversion
// whose raw file and output set lie in the folder too.
const Folder& conversion_folder();

}  // namespace quorda::fuzz

#ifdef QUORDA_LIBFUZZER
#define QUORDA_FUZZ_ENTRY(harness)                                          \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    return quorda::fuzz::harness(data, size);                               \
  }
#else
#define QUORDA_FUZZ_ENTRY(harness)
#endif
