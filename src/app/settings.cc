// The settings file QUORDA.SET: one lookup opens the file, takes the first line that begins with
// the key, reads the value from column 61 on and closes the file again.
//
// Lines are read as fgets reads them into an 80-byte buffer: at most 79 characters, so the rest
// of a longer line comes back as a line of its own. Conversions follow the C library's scanf:
// "%s" takes the next word, "%i" an integer with "0x" (hex) and "0" (octal) prefixes, "%f" a
// decimal number; blanks before the value and any text after it are passed over.
//
// A value the run uses must be readable where the columns put it: its line holds no tab (an
// editor that turned blanks into tabs moves every column) and no value cut by the end of the line
// at column 79; a numeric key's line reaches column 61 and holds a number there, and a geometry
// value is a finite number above 0; a folder is not only a separator (no folder at all names the
// current one, unless a folder stands before its column). Anything else ends the run with the
// file, the line, the column and what stands there: a value misread silently would give wrong
// measures or outputs in a wrong folder. The pixel widths and camera distances are used only when
// OVERWRITE is 1; otherwise they need only be present.
#include "app/settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/run_context.h"
#include "base/run_end.h"

namespace quorda {

namespace {

constexpr int kLineBufSize = 80;     // 79 characters and the terminating zero
constexpr size_t kValueColumn = 60;  // column 61, counted from 0
constexpr char kSettingsFile[] = "QUORDA.SET";

// A value that cannot be read: the file, the line, the key, the value's column and what was found.
constexpr char kRefusedFmt[] = "%s line %d: the value of %s must start in column %d; found %s\n";

// The messages of one reader: the early one (the output folder) and the one of the day's settings.
struct ReaderTexts {
  const char* open_tag;
  const char* missing_fmt;
  const char* close_tag;
};

constexpr ReaderTexts kEarlyReaderTexts = {"rd_mp: QUORDA.SET ? ", "rd_mp: could not find %s \n", "rd_mp81"};
constexpr ReaderTexts kReaderTexts = {" rd_tak01: QUORDA.SET ? ", "rd_tk: could not find %s \n", "rd_tak81"};

bool is_blank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The first line that begins with a key, as read.
struct KeyLine {
  std::string file;
  const char* key = nullptr;
  int number = 0;  // line of the file, counted from 1
  char text[kLineBufSize] = {};
  size_t end = 0;         // characters before the line end
  bool cut = false;       // the line goes on past column 79
  char after_cut = '\0';  // the character in column 80 when it does
  size_t value_from = 0;  // the value's first character (after the blanks from column 61 on)
  size_t value_to = 0;    // one past its last character (the next blank or the line end)

  std::string value() const { return {text + value_from, text + value_to}; }
};

// What follows the 79 characters fgets gave of the line read last: the next character, or 0 when
// the line ends there. Reads the file on.
char character_after_cut(FILE* f) {
  int c = std::fgetc(f);
  if (c == '\r') c = std::fgetc(f);
  return c == EOF || c == '\n' ? '\0' : static_cast<char>(c);
}

// Finds the first line that begins with the key. Ends the run when the file cannot be opened or no
// line matches.
KeyLine find_key(RunContext& ctx, const ReaderTexts& texts, const char* key) {
  KeyLine kl;
  kl.file = ctx.local_path(kSettingsFile);
  kl.key = key;
  FILE* f = std::fopen(kl.file.c_str(), "r");
  if (f == nullptr) fatal_tag(ctx.diag, texts.open_tag);
  const size_t key_len = std::strlen(key);
  bool found = false;
  bool line_ended = true;  // the piece read last ended its line
  while (std::fgets(kl.text, sizeof kl.text, f) != nullptr) {
    if (line_ended) ++kl.number;
    // strnlen: a line may hold a zero byte; nothing past it (or past the buffer) is looked at.
    size_t len = strnlen(kl.text, sizeof kl.text);
    line_ended = len > 0 && kl.text[len - 1] == '\n';
    if (std::strncmp(kl.text, key, key_len) != 0) continue;
    found = true;
    while (len > 0 && (kl.text[len - 1] == '\n' || kl.text[len - 1] == '\r')) --len;
    kl.end = len;
    if (!line_ended && len + 1 == sizeof kl.text) kl.after_cut = character_after_cut(f);
    kl.cut = kl.after_cut != '\0';
    break;
  }
  if (!found) {
    std::fclose(f);
    fatal(ctx.diag, texts.missing_fmt, key);
  }
  if (std::fclose(f) != 0) report_tag(ctx.diag, texts.close_tag);
  size_t p = std::min(kl.end, kValueColumn);
  while (p < kl.end && is_blank(kl.text[p])) ++p;
  kl.value_from = p;
  while (p < kl.end && !is_blank(kl.text[p])) ++p;
  kl.value_to = p;
  return kl;
}

[[noreturn]] void refuse(RunContext& ctx, const KeyLine& kl, const std::string& found) {
  fatal(ctx.diag, kRefusedFmt, kl.file.c_str(), kl.number, kl.key, static_cast<int>(kValueColumn) + 1,
        found.c_str());
}

[[noreturn]] void refuse_value(RunContext& ctx, const KeyLine& kl, const char* why) {
  refuse(ctx, kl, "\"" + kl.value() + "\", " + why);
}

// A line the columns cannot be counted in (a tab), and a value that does not end within the line
// (it runs into the cut after column 79, or starts only beyond it).
void check_columns(RunContext& ctx, const KeyLine& kl) {
  if (const void* tab = std::memchr(kl.text, '\t', kl.end)) {
    const auto column = static_cast<const char*>(tab) - kl.text + 1;
    refuse(ctx, kl, "a tab in column " + std::to_string(column));
  }
  if (!kl.cut) return;
  if (kl.value_from == kl.value_to) refuse(ctx, kl, "only blanks up to column 79, where the line is cut");
  if (kl.value_to == kl.end && !is_blank(kl.after_cut))
    refuse_value(ctx, kl, "which runs past column 79, where the line is cut");
}

// What a number needs besides: a line that reaches column 61, and a value there.
void check_value_place(RunContext& ctx, const KeyLine& kl) {
  check_columns(ctx, kl);
  if (kl.end <= kValueColumn) {
    refuse(
        ctx, kl,
        "the line ending at column " + std::to_string(kl.end) + ": \"" + std::string(kl.text, kl.end) + "\"");
  }
  if (kl.value_from == kl.value_to) refuse(ctx, kl, "only blanks");
}

// Whether a number read up to `end` stops where its word does not: "6,3" is not 6.
bool number_cut_short(const char* end) {
  return *end == ',' || *end == '.';
}

// The first word after the key, before the value's column (where free text such as a description
// stands), and its column counted from 1.
struct FreeWord {
  std::string text;
  size_t column = 0;
};

FreeWord word_after_key(const KeyLine& kl) {
  size_t p = std::strlen(kl.key);
  const size_t stop = std::min(kl.end, kValueColumn);
  while (p < stop && is_blank(kl.text[p])) ++p;
  const size_t from = p;
  while (p < stop && !is_blank(kl.text[p])) ++p;
  return {std::string(kl.text + from, kl.text + p), from + 1};
}

// A folder. No value (the line ends before column 61, or holds only blanks there) names the
// current folder and leaves `value` as it is, unless the free text after the key begins with a
// folder ("RAW_PATH /data"): a value written in the wrong columns, not a description.
void convert(RunContext& ctx, const KeyLine& kl, std::string* value) {
  check_columns(ctx, kl);
  const std::string v = kl.value();
  if (v.empty()) {
    const FreeWord w = word_after_key(kl);
    if (w.text == "." || w.text == ".." || w.text.find_first_of("/\\") != std::string::npos) {
      refuse(ctx, kl, "\"" + w.text + "\" in column " + std::to_string(w.column) + ", before it");
    }
    return;
  }
  if (v == "/" || v == "\\") refuse_value(ctx, kl, "which names no folder");
  *value = v;
}

void convert(RunContext& ctx, const KeyLine& kl, int32_t* value) {
  check_value_place(ctx, kl);
  // strtoll with base 0 reads what "%i" reads; a number beyond the 32-bit range is not taken
  // (scanf leaves that case undefined).
  const char* text = kl.text + kl.value_from;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 0);
  if (end == text || number_cut_short(end) || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    refuse_value(ctx, kl, "which is not a 32-bit integer");
  *value = static_cast<int32_t>(v);
}

// A geometry value: a finite number above 0.
void convert(RunContext& ctx, const KeyLine& kl, float* value) {
  check_value_place(ctx, kl);
  const char* text = kl.text + kl.value_from;
  char* end = nullptr;
  const float v = std::strtof(text, &end);
  if (end == text || number_cut_short(end)) refuse_value(ctx, kl, "which is not a number");
  if (!std::isfinite(v) || !(v > 0.0f)) refuse_value(ctx, kl, "which is not a finite number above 0");
  *value = v;
}

// An unused value is taken where it converts and otherwise left as it was.
void convert_unused(const KeyLine& kl, float* value) {
  const char* text = kl.text + kl.value_from;
  char* end = nullptr;
  const float v = std::strtof(text, &end);
  if (end != text) *value = v;
}

// The pixel widths and camera distances, used only when OVERWRITE is 1.
bool used_only_on_overwrite(const char* key) {
  for (const char* k : {"XSCAL_A", "DIST_A", "XSCAL_B", "DIST_B"}) {
    if (std::strcmp(k, key) == 0) return true;
  }
  return false;
}

}  // namespace

void read_early_setting(RunContext& ctx, const char* key, std::string* value) {
  convert(ctx, find_key(ctx, kEarlyReaderTexts, key), value);
}

void read_setting(RunContext& ctx, const char* key, std::string* value) {
  convert(ctx, find_key(ctx, kReaderTexts, key), value);
}

void read_setting(RunContext& ctx, const char* key, int32_t* value) {
  convert(ctx, find_key(ctx, kReaderTexts, key), value);
}

void read_setting(RunContext& ctx, const char* key, float* value) {
  const KeyLine kl = find_key(ctx, kReaderTexts, key);
  if (used_only_on_overwrite(key) && ctx.settings.overwrite != 1) {
    convert_unused(kl, value);
  } else {
    convert(ctx, kl, value);
  }
}

void read_hyd_path(RunContext& ctx) {
  read_early_setting(ctx, "HYD_PATH", &ctx.settings.hyd_path);
  native_folder(ctx.settings.hyd_path);
}

void read_settings(RunContext& ctx) {
  Settings& s = ctx.settings;
  read_setting(ctx, "RAW_PATH", &s.raw_path);
  read_setting(ctx, "HYD_PATH", &s.hyd_path);
  read_setting(ctx, "OVERWRITE", &s.overwrite);
  read_setting(ctx, "HBR", &s.hbr);
  read_setting(ctx, "HBL", &s.hbl);
  read_setting(ctx, "HFR", &s.hfr);
  read_setting(ctx, "XSCAL_A", &s.xscal_a);
  read_setting(ctx, "DIST_A", &s.dist_a);
  read_setting(ctx, "XSCAL_B", &s.xscal_b);
  read_setting(ctx, "DIST_B", &s.dist_b);
  native_folder(s.raw_path);
  native_folder(s.hyd_path);
}

}  // namespace quorda
