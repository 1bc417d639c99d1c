// The settings file QUORDA.SET: one lookup opens the file, takes the first line that begins with
// the key, converts the text from column 61 on and closes the file again.
//
// Lines are read as fgets reads them into an 80-byte buffer: at most 79 characters, so the rest
// of a longer line comes back as a line of its own. Conversions follow the C library's scanf:
// "%s" takes the next word, "%i" an integer with "0x" (hex) and "0" (octal) prefixes, "%f" a
// decimal number; text that does not convert leaves the variable as it was.
#include "app/settings.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/run_context.h"
#include "base/run_end.h"

namespace quorda {

namespace {

constexpr int kLineBufSize = 80;     // 79 characters and the terminating zero
constexpr size_t kValueColumn = 60;  // column 61, counted from 0

// The messages of one reader.
struct ReaderTexts {
  const char* open_tag;
  const char* missing_fmt;
  const char* close_tag;
};

constexpr ReaderTexts kRdMp = {"rd_mp: QUORDA.SET ? ", "rd_mp: could not find %s \n", "rd_mp81"};
constexpr ReaderTexts kRdTak = {" rd_tak01: QUORDA.SET ? ", "rd_tk: could not find %s \n", "rd_tak81"};

// Finds the first line that begins with the key and returns, in `value`, its text from column
// 61 on (empty when the line ends before that column). Ends the run when the file cannot be
// opened or no line matches.
void find_value(RunContext& ctx, const ReaderTexts& texts, const char* key, char (&value)[kLineBufSize]) {
  FILE* f = std::fopen(ctx.local_path("QUORDA.SET").c_str(), "r");
  if (f == nullptr) fatal_tag(ctx.diag, texts.open_tag);
  size_t key_len = std::strlen(key);
  char line[kLineBufSize];
  bool found = false;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, key, key_len) == 0) {
      found = true;
      break;
    }
  }
  value[0] = '\0';
  if (found) {
    // strnlen: a line may hold a zero byte; nothing past it (or past the buffer) is looked at.
    size_t len = strnlen(line, sizeof line);
    if (len > kValueColumn) std::memcpy(value, line + kValueColumn, len - kValueColumn + 1);
  }
  if (!found) {
    std::fclose(f);
    fatal(ctx.diag, texts.missing_fmt, key);
  }
  if (std::fclose(f) != 0) report_tag(ctx.diag, texts.close_tag);
}

void convert(const char* text, std::string* value) {
  const char* p = text;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  const char* end = p;
  while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (end != p) value->assign(p, end);
}

void convert(const char* text, int32_t* value) {
  // strtoll with base 0 reads what "%i" reads; a number beyond the 32-bit range does not convert
  // (scanf leaves that case undefined).
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 0);
  if (end == text || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return;
  *value = static_cast<int32_t>(v);
}

void convert(const char* text, float* value) {
  char* end = nullptr;
  float v = std::strtof(text, &end);
  if (end == text) return;
  *value = v;
}

template <typename T>
void lookup(RunContext& ctx, const ReaderTexts& texts, const char* key, T* value) {
  char text[kLineBufSize];
  find_value(ctx, texts, key, text);
  convert(text, value);
}

}  // namespace

void rd_mp(RunContext& ctx, const char* key, std::string* value) {
  lookup(ctx, kRdMp, key, value);
}

void rd_tak(RunContext& ctx, const char* key, std::string* value) {
  lookup(ctx, kRdTak, key, value);
}

void rd_tak(RunContext& ctx, const char* key, int32_t* value) {
  lookup(ctx, kRdTak, key, value);
}

void rd_tak(RunContext& ctx, const char* key, float* value) {
  lookup(ctx, kRdTak, key, value);
}

void read_hyd_path(RunContext& ctx) {
  rd_mp(ctx, "HYD_PATH", &ctx.settings.hyd_path);
  native_folder(ctx.settings.hyd_path);
}

void read_settings(RunContext& ctx) {
  Settings& s = ctx.settings;
  rd_tak(ctx, "RAW_PATH", &s.raw_path);
  rd_tak(ctx, "HYD_PATH", &s.hyd_path);
  rd_tak(ctx, "OVERWRITE", &s.overwrite);
  rd_tak(ctx, "HBR", &s.hbr);
  rd_tak(ctx, "HBL", &s.hbl);
  rd_tak(ctx, "HFR", &s.hfr);
  rd_tak(ctx, "XSCAL_A", &s.xscal_a);
  rd_tak(ctx, "DIST_A", &s.dist_a);
  rd_tak(ctx, "XSCAL_B", &s.xscal_b);
  rd_tak(ctx, "DIST_B", &s.dist_b);
  native_folder(s.raw_path);
  native_folder(s.hyd_path);
}

}  // namespace quorda
