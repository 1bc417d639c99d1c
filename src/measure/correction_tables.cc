// Correction tables: corrfact.dat into four tables of 512 factors (index = size in 0.1 mm).
//
// The file states, at ten reference diameters, by how many percent each camera measures heights
// and widths too large. Each deviation row becomes a table indexed by the measured size in steps
// of 0.1 mm, interpolated linearly between the measured sizes of the reference diameters; an
// entry is the factor that turns a measured size into the true one. With "/c" every factor is 1.0
// and the file is not read.
#include "measure/correction_tables.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/trace.h"
#include "measure/measure_run.h"

namespace quorda {

namespace {

constexpr const char* kFileName = "corrfact.dat";

constexpr const char* kCannotOpenText = "could not open %s \n";
constexpr const char* kTagCannotOpen = "tables01";
constexpr const char* kTagUnreadLine = "tables0%d";  // with the number of the line, from 1
constexpr const char* kNotFiniteText =
    "%s: row %s: value %d is no finite number, no correction factors can be built\n";
constexpr const char* kNotRisingText =
    "%s: row %s: measured sizes do not rise (%f at point %d, %f at point %d), "
    "no correction factors can be built\n";
constexpr const char* kNotPositiveText =
    "%s: row %s: largest measured size %f is not above 0, no correction factors can be built\n";
constexpr size_t kLineLimit = 98;  // characters per line read, line end included
// A line is at most kLineLimit - 1 characters and its line end, which in a file written with
// carriage returns is "\r\n" (a text-mode read sees one '\n'). The file's first eight lines lie
// within this many bytes.
constexpr size_t kLineBytes = kLineLimit + 1;
constexpr int kFileLines = 8;
constexpr int kPoints = 10;
constexpr size_t kLabelWidth = 10;
constexpr size_t kFieldWidth = 7;

// Line numbers (from 1) of the value lines.
constexpr int kDiameterLine = 3;
constexpr int kDeviationLines[4] = {5, 6, 7, 8};
constexpr const char* kRowLabels[4] = {"height A: ", "height B: ", "width A : ", "width B : "};
constexpr const char* kRowNames[4] = {"height A", "height B", "width A", "width B"};

// Takes the next line from `rest` into `line` as a text-mode read with a limit of kLineLimit
// characters: up to kLineLimit - 1 characters, then the line end when it follows them ("\r\n" is
// taken as one '\n'). A longer line is taken in pieces, each piece a line of its own. Returns
// false when `rest` is empty.
bool next_line(std::string_view& rest, char (&line)[kLineLimit + 1]) {
  if (rest.empty()) return false;
  size_t n = 0;
  size_t used = 0;
  while (used < rest.size() && n < kLineLimit - 1) {
    if (rest[used] == '\n' || (rest[used] == '\r' && used + 1 < rest.size() && rest[used + 1] == '\n')) break;
    line[n++] = rest[used++];
  }
  if (used < rest.size() && rest[used] == '\n') {
    line[n++] = '\n';
    used += 1;
  } else if (used + 1 < rest.size() && rest[used] == '\r' && rest[used + 1] == '\n') {
    line[n++] = '\n';
    used += 2;
  }
  line[n] = '\0';
  rest.remove_prefix(used);
  return true;
}

// Ten values of one value line: value i read with "%6f" from position 10 + 7 * i. A field that
// begins beyond the line's end, or holds no number, gives 0.0.
void read_values(const char* line, float* v) {
  const size_t len = std::strlen(line);
  for (int i = 0; i < kPoints; ++i) {
    v[i] = 0.0f;
    const size_t pos = kLabelWidth + kFieldWidth * static_cast<size_t>(i);
    if (pos >= len) continue;
    float x = 0.0f;
    if (std::sscanf(line + pos, "%6f", &x) == 1) v[i] = x;
  }
}

void trace_row(const MeasureRun& ctx, const char* label, const float* v) {
  hprintf(ctx.diag, "%s", label);
  for (int i = 0; i < kPoints - 1; ++i) hprintf(ctx.diag, "%f, ", v[i]);
  hprintf(ctx.diag, "%f\n", v[kPoints - 1]);
}

// Refuses a row whose measured sizes cannot carry an interpolation: every value a number, the
// sizes strictly rising and the largest above 0. Such a row would leave entries uncomputed or
// divide by a zero-length segment.
void check_row(const MeasureRun& ctx, const char* row, const float* d, const float* p, const float* s) {
  for (int i = 0; i < kPoints; ++i) {
    if (!std::isfinite(d[i]) || !std::isfinite(p[i]) || !std::isfinite(s[i])) {
      // The diameters are shared by every row: a bad one is named as theirs.
      fatal(ctx.diag, kNotFiniteText, kFileName, std::isfinite(d[i]) ? row : "diameter", i + 1);
    }
  }
  for (int i = 1; i < kPoints; ++i) {
    if (!(s[i] > s[i - 1])) {
      fatal(ctx.diag, kNotRisingText, kFileName, row, static_cast<double>(s[i - 1]), i,
            static_cast<double>(s[i]), i + 1);
    }
  }
  if (!(s[kPoints - 1] > 0.0f)) {
    fatal(ctx.diag, kNotPositiveText, kFileName, row, static_cast<double>(s[kPoints - 1]));
  }
}

// One table from a deviation row p and the measured sizes s of its reference diameters.
void build_table(const float* p, const float* s, float* table) {
  int k = 0;
  for (; k < kCorrEntries; ++k) {
    const auto x = static_cast<float>(k * 0.1);
    if (!(x < s[kPoints - 1])) break;
    int j = 1;
    while (x > s[j]) ++j;  // ends at 9 at the latest, since x < s[9]
    const float q = p[j - 1] + (p[j] - p[j - 1]) * (x - s[j - 1]) / (s[j] - s[j - 1]);
    table[k] = static_cast<float>(1.0 / (q * 0.01 + 1.0));
  }
  // The last computed factor holds for all larger sizes. The checked row has s[9] > 0, so entry 0
  // (x = 0) is always computed and k is at least 1.
  const float last = table[k - 1];
  for (int i = k - 1; i < kCorrEntries; ++i) table[i] = last;
}

}  // namespace

void load_correction_tables(const MeasureRun& ctx, bool calib) {
  CorrTables& c = ctx.corr;
  hprintf(ctx.diag, "tables: calib=%d \n", calib);
  if (calib) {
    for (int k = 0; k < kCorrEntries; ++k) {
      c.corr_h_a[k] = c.corr_h_b[k] = c.corr_w_a[k] = c.corr_w_b[k] = 1.0f;
    }
    return;
  }

  const std::string path = ctx.local_path(kFileName);
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    const int e = errno;
    outf(ctx.diag, kCannotOpenText, kFileName);
    errno = e;
    fatal_tag(ctx.diag, kTagCannotOpen);
  }

  // Only the first eight lines are used: the bytes that can hold them are read at once. A line
  // that cannot be read is reported and reads as empty: all its values are 0.0.
  char head[kFileLines * kLineBytes];
  errno = 0;
  const size_t got = std::fread(head, 1, sizeof head, f);
  const int read_errno = std::ferror(f) ? errno : 0;
  std::fclose(f);
  std::string_view rest(head, got);
  char lines[kFileLines][kLineLimit + 1] = {};
  for (int n = 0; n < kFileLines; ++n) {
    if (!next_line(rest, lines[n])) {
      char tag[16];
      std::snprintf(tag, sizeof tag, kTagUnreadLine, n + 1);
      errno = read_errno;
      report_tag(ctx.diag, tag);
    }
  }

  float d[kPoints];
  float p[4][kPoints];
  float s[4][kPoints];
  read_values(lines[kDiameterLine - 1], d);
  for (int r = 0; r < 4; ++r) read_values(lines[kDeviationLines[r] - 1], p[r]);
  for (int r = 0; r < 4; ++r) {
    for (int i = 0; i < kPoints; ++i) s[r][i] = static_cast<float>((p[r][i] * 0.01 + 1) * d[i]);
  }

  hprintf(ctx.diag, "Correction factors in percent for relative threshold\n");
  trace_row(ctx, "diameter: ", d);
  for (int r = 0; r < 4; ++r) trace_row(ctx, kRowLabels[r], p[r]);

  float* const out[4] = {c.corr_h_a, c.corr_h_b, c.corr_w_a, c.corr_w_b};
  for (int r = 0; r < 4; ++r) {
    check_row(ctx, kRowNames[r], d, p[r], s[r]);
    build_table(p[r], s[r], out[r]);
  }

  for (int k = 0; k < kCorrEntries; ++k) {
    hprintf(ctx.diag, "%d %f %f %f %f %f \n", k, c.corr_h_a[k], c.corr_h_b[k], c.corr_w_a[k], c.corr_w_b[k],
            (c.corr_h_a[k] + c.corr_h_b[k]) * 0.5);
  }
}

}  // namespace quorda
