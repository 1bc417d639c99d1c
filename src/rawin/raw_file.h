// The raw file of one measuring day and its record framing, read through two independent cursors.
//
// The raw file is a plain sequence of records: a 16-bit kind (A_B_ident), a 16-bit payload length
// and the payload; the next record starts 4 + payload length bytes later. The file may grow
// while it is read, so its end is measured anew before each read step.
//
// Each RawCursor reads through a window of its own (positioned reads of the file room into a buffer
// allocated at the cursor's first read and kept), so the day driver can alternate between the camera A and
// camera B cursors without a system call per record while the data lie in the window. A record's payload is
// handed out as a view into the window, valid until the next read on the same cursor.
//
// Positions are 32-bit signed offsets as the files store them: a file longer than 2^31 - 1 bytes
// is read only up to that offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace quorda {

struct RawinRun;

class RawFile {
 public:
  RawFile() = default;
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  // Opens the file for reading through the file room. False on failure (errno set).
  bool open(Files& files, const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  bool close();  // false when the close failed (errno set)

  // Measures the length of the file now. False on failure (errno set). A length beyond
  // INT32_MAX is reported as INT32_MAX with *clamped set.
  bool measure_end(int32_t* end, bool* clamped);

  // Reads up to n bytes at pos; *got tells how many came. False on failure (errno set).
  bool read_at(int64_t pos, void* data, size_t n, size_t* got) const;

 private:
  std::unique_ptr<File> file_;
};

// One record as the framing gives it.
struct RawRecord {
  int16_t kind = 0;                  // A_B_ident
  int16_t payload_len = 0;           // payload length
  const uint8_t* payload = nullptr;  // payload_len bytes, valid until the cursor reads again
};

enum class ReadStatus {
  kOk,
  kShortHead,       // fewer than 4 bytes of head before the measured end
  kNegativeLength,  // payload_len < 0
  kBeyondEnd,       // the payload would end beyond the measured end of the file
  kIoError,         // the system refused the read (errno set)
};

class RawCursor {
 public:
  // The window must hold the largest record (4 + 32767 bytes); larger windows read less often.
  // Its buffer is allocated at the first read, so that a cursor that never reads costs nothing.
  explicit RawCursor(size_t window_bytes = 1 << 20);

  // Reads the record whose head is at `pos`, given the measured end of the file. A `pos` outside
  // [0, end - 4] gives kShortHead.
  ReadStatus read(const RawFile& file, int32_t pos, int32_t end, RawRecord* rec);

  // Forgets the window (after the file was replaced, or in tests).
  void invalidate() { win_len_ = 0; }

 private:
  size_t window_;  // bytes of the window
  std::vector<uint8_t> buf_;
  int64_t win_start_ = 0;
  size_t win_len_ = 0;
};

// Opens the raw file of the run: raw_day from characters 2 to 6 of the file name, the path
// of the file, the file itself. Ends the run when the file cannot be opened.
void open_raw_file(const RawinRun& ctx);

// The day number that characters 2 to 6 of a raw file name give (year % 100 * 1000 + day).
int32_t raw_day_from_name(const std::string& file_name);

// Measures the end of the raw file now into ctx.drv.rawend, for the day driver before each read
// step. A file longer than INT32_MAX bytes gives INT32_MAX, and the first time in a run that
// happens one line saying so goes to the error stream (ctx.raw.size_clamp_reported). When the
// system refuses to tell the length, `fail_tag` is reported with the system's errno, rawend keeps
// its value and the result is false.
bool update_raw_end(const RawinRun& ctx, const char* fail_tag);

}  // namespace quorda
