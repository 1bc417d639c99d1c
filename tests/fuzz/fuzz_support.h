// Shared pieces of the fuzz harnesses: the harness entry points, the input split into files, a
// platform that cancels a run after a budget of ticks, a run context whose streams go nowhere, and
// whole conversions run one after another over a disk in memory.
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
#include "support/crash_files.h"
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
int rainprod(const uint8_t* data, size_t size);

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

// The raw file that the conversion harnesses convert.
inline constexpr char kRawName[] = "V26150_1.ab";

// Whole conversions of kRawName, one after another. The raw file and the output set lie on a disk
// in memory; the settings and correction files, and the "res" a run writes, are real files of a
// folder (the converter reads and writes them through the C library).
//
// Each run gets a context made afresh, as make_run_context makes it, in memory kept from run to
// run, and the raw cursors' windows pass from one run to the next, emptied: under the sanitizers,
// fresh pages for the 2.5 MB context and the two 1 MB windows cost more than the run itself. A
// run's context is destroyed when the run ends, so nothing of it reaches the next run.
class Conversions {
 public:
  Conversions();
  ~Conversions();
  Conversions(const Conversions&) = delete;
  Conversions& operator=(const Conversions&) = delete;

  // Puts a file of the folder on the disk; an absent one is removed from it.
  void put(const char* name, const InputFile& f);
  // The bytes of a file of the folder on the disk; empty when it is absent.
  std::span<const uint8_t> bytes(const char* name) const;
  // Removes every file from the disk.
  void clear() { disk_.files.clear(); }
  // Converts the raw file ("/e") on a platform that reports SIGTERM after `tick_budget` ticks;
  // gives the run's exit status.
  int convert(int tick_budget);

 private:
  static const std::string kDiskFolder;
  std::string path_of(const char* name) const { return kDiskFolder + name; }

  Folder folder_;  // the settings and correction files, and "res"
  testing::MemoryDisk disk_;
  void* storage_;  // room for one RunContext
  RawCursor window_a_, window_b_;
};

// The conversions of the process, made at the first call.
Conversions& conversions();

}  // namespace quorda::fuzz

#ifdef QUORDA_LIBFUZZER
#define QUORDA_FUZZ_ENTRY(harness)                                          \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    return quorda::fuzz::harness(data, size);                               \
  }
#else
#define QUORDA_FUZZ_ENTRY(harness)
#endif
