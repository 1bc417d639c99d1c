// Opening the raw file of the run, its day number, and the measured end of the raw file.
#include <cctype>
#include <cerrno>
#include <climits>
#include <string>

#include "base/trace.h"
#include "rawin/raw_file.h"
#include "rawin/rawin_run.h"

namespace quorda {
namespace {

// The raw file cannot be opened: its path, then the tag with the system's reason.
constexpr char kCannotOpen[] = "rawfil01: could not open %s \n";
constexpr char kCannotOpenTag[] = "rawfil02";
// The raw file reaches beyond the offsets the formats can hold.
constexpr char kRawFileClamped[] = "raw file %s is longer than %d bytes: only its first %d bytes are read \n";

// The decimal value of `count` characters of `s` from index `from` (fewer when s ends sooner),
// read as the C library reads an integer: leading white space, an optional sign, then digits up
// to the first non-digit; no digits give 0.
int32_t slice_value(const std::string& s, size_t from, size_t count) {
  if (from >= s.size()) return 0;
  size_t end = s.size() - from < count ? s.size() : from + count;
  size_t k = from;
  while (k < end && std::isspace(static_cast<unsigned char>(s[k]))) ++k;
  bool negative = false;
  if (k < end && (s[k] == '+' || s[k] == '-')) {
    negative = s[k] == '-';
    ++k;
  }
  int32_t v = 0;
  for (; k < end && s[k] >= '0' && s[k] <= '9'; ++k) v = v * 10 + (s[k] - '0');
  return negative ? -v : v;
}

}  // namespace

int32_t raw_day_from_name(const std::string& file_name) {
  // "V%02d%03d_1.ab": the year at characters 2 and 3, the day of the year at 4 to 6.
  int32_t year = slice_value(file_name, 1, 2);
  int32_t day = slice_value(file_name, 3, 3);
  return year * 1000 + day;
}

void open_raw_file(const RawinRun& ctx) {
  RawInput& raw = ctx.raw;
  raw.raw_day = raw_day_from_name(ctx.filespec_name);
  hprintf(ctx.diag, "raw_day=%ld\n", raw.raw_day);
  hprintf(ctx.diag, "now opening %s \n", ctx.filespec);
  if (!raw.raw_file.open(*ctx.files, ctx.filespec)) {
    int e = errno;
    errf(ctx.diag, kCannotOpen, ctx.filespec.c_str());
    errno = e;
    fatal_tag(ctx.diag, kCannotOpenTag);
  }
  // The path is kept whole, however long: the output set splits it into its parts.
  raw.raw_file_path = ctx.filespec;
  raw.raw_day_at_open = raw.raw_day;
}

bool update_raw_end(const RawinRun& ctx, const char* fail_tag) {
  int32_t end = 0;
  bool clamped = false;
  if (!ctx.raw.raw_file.measure_end(&end, &clamped)) {
    report_tag(ctx.diag, fail_tag);
    return false;
  }
  if (clamped && !ctx.raw.size_clamp_reported) {
    errf(ctx.diag, kRawFileClamped, ctx.raw.raw_file_path.c_str(), INT32_MAX, INT32_MAX);
    ctx.raw.size_clamp_reported = true;
  }
  ctx.drv.rawend = end;
  return true;
}

}  // namespace quorda
