// The console line of a run's end: the cause the run ended with (the tag of the failed file
// operation or the format of the fatal message) looked up in one table of plain texts.
#include "app/console_reason.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/run_context.h"
#include "base/run_end.h"
#include "rawin/minute_index.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

// The file or folder a plain text names.
enum class Subject {
  kHome,       // the current folder
  kSettings,   // QUORDA.SET there
  kCorrfact,   // corrfact.dat there
  kRawFile,    // the raw file named on the command line
  kHydFolder,  // the folder of the .hyd and .hd files
  kAbhFolder,  // the folder of the .abh file
  kOutputSet,  // the .hyd, .hd and .abh files
};

// One cause: its tag or message format as the run ended with it, the system's error numbers it
// is told for (0: any), and the plain text with one %s for the subject's path.
struct Reason {
  std::string_view cause;
  int error;
  int error_too;
  Subject subject;
  const char* text;
};

// The folder texts, each said for the tag of the file created first and for the lock or header file.
constexpr char kHydFolderMissing[] =
    "the output folder %s does not exist: create it or correct HYD_PATH in QUORDA.SET";
constexpr char kHydFolderReadOnly[] =
    "the output folder %s cannot be written: make it writable or correct HYD_PATH in QUORDA.SET";
constexpr char kRawFolderMissing[] =
    "the raw data folder %s does not exist: create it or correct RAW_PATH in QUORDA.SET";
constexpr char kRawFolderReadOnly[] =
    "the raw data folder %s cannot be written (the .lock and .abh files go there): make it writable or "
    "correct RAW_PATH in QUORDA.SET";

// Line numbers or main headers of the raw file that go back in time for good.
constexpr char kRawGoesBack[] =
    "the raw file %s goes back in time (a clock reset, or data of another day): the particles before that "
    "point are saved; the rest cannot go into this output set";

constexpr Reason kReasons[] = {
    {"rd_mp: QUORDA.SET ? ", ENOENT, 0, Subject::kHome,
     "no QUORDA.SET in the folder %s: start quorda in the folder that holds the settings file"},
    {" rd_tak01: QUORDA.SET ? ", ENOENT, 0, Subject::kHome,
     "no QUORDA.SET in the folder %s: start quorda in the folder that holds the settings file"},
    {"rd_mp: QUORDA.SET ? ", 0, 0, Subject::kSettings, "the settings file %s cannot be read"},
    {" rd_tak01: QUORDA.SET ? ", 0, 0, Subject::kSettings, "the settings file %s cannot be read"},
    {"rd_mp: could not find %s \n", 0, 0, Subject::kSettings, "a key is missing in the settings file %s"},
    {"rd_tk: could not find %s \n", 0, 0, Subject::kSettings, "a key is missing in the settings file %s"},
    {"%s line %d: the value of %s must start in column %d; found %s\n", 0, 0, Subject::kSettings,
     "a value of the settings file %s cannot be read: correct it"},
    {"tables01", ENOENT, 0, Subject::kHome,
     "no corrfact.dat in the folder %s: put the correction factors there (or convert with /c)"},
    {"tables01", 0, 0, Subject::kCorrfact, "the correction file %s cannot be read"},
    {"%s: row %s: value %d is no finite number, no correction factors can be built\n", 0, 0,
     Subject::kCorrfact, "the correction file %s holds a value that is no number: correct it"},
    {"%s: row %s: measured sizes do not rise (%f at point %d, %f at point %d), "
     "no correction factors can be built\n",
     0, 0, Subject::kCorrfact, "the correction file %s holds sizes that do not rise: correct it"},
    {"rawfil02", ENOENT, 0, Subject::kRawFile, "the raw file %s does not exist: check its name and folder"},
    {"rawfil02", 0, 0, Subject::kRawFile, "the raw file %s cannot be read"},
    {kWentBack, 0, 0, Subject::kRawFile, kRawGoesBack},
    {kRenameOrDeleteSet, 0, 0, Subject::kRawFile, kRawGoesBack},
    {" pixfil01 ", ENOENT, ENOTDIR, Subject::kHydFolder, kHydFolderMissing},
    {" pixfil18 ", ENOENT, ENOTDIR, Subject::kHydFolder, kHydFolderMissing},
    {" pixfil09 ", ENOENT, ENOTDIR, Subject::kAbhFolder, kRawFolderMissing},
    {" pixfil01 ", EACCES, EROFS, Subject::kHydFolder, kHydFolderReadOnly},
    {" pixfil18 ", EACCES, EROFS, Subject::kHydFolder, kHydFolderReadOnly},
    {" pixfil22 ", ENOENT, ENOTDIR, Subject::kAbhFolder, kRawFolderMissing},
    {" pixfil22 ", EACCES, EROFS, Subject::kAbhFolder, kRawFolderReadOnly},
    {" pixfil09 ", EACCES, EROFS, Subject::kAbhFolder, kRawFolderReadOnly},
    {" pixfil: %s \n the output set cannot be continued: nothing was changed; remove %s, %s and %s to "
     "convert the day anew \n",
     0, 0, Subject::kOutputSet,
     "the output set %s is damaged and cannot be continued: remove its files to "
     "convert the day anew"},
};

std::string folder_of(const std::string& file) {
  return full_path(std::filesystem::path(file).parent_path().string());
}

std::string subject_path(const RunContext& ctx, Subject s) {
  switch (s) {
    case Subject::kHome:
      return full_path(ctx.home);
    case Subject::kSettings:
      return full_path(ctx.local_path("QUORDA.SET"));
    case Subject::kCorrfact:
      return full_path(ctx.local_path("corrfact.dat"));
    case Subject::kRawFile:
      return full_path(ctx.cmd.filespec);
    case Subject::kHydFolder:
      return folder_of(ctx.out.hyd_name);
    case Subject::kAbhFolder:
      return folder_of(ctx.out.abh_name);
    case Subject::kOutputSet:
      return full_path(std::filesystem::path(ctx.out.hyd_name).replace_extension().string()) +
             " (.hyd, .hd, .abh)";
  }
  return {};
}

std::string fill(const char* text, const std::string& path) {
  char line[1024];
  std::snprintf(line, sizeof line, text, path.c_str());
  return line;
}

// The plain text of a fatal run's cause; a cause not in the table is told by its tag.
std::string fatal_text(const RunContext& ctx, const RunEnd& end) {
  if (end.cause == nullptr) return "the run ended with an error";
  for (const Reason& r : kReasons) {
    if (r.cause != end.cause) continue;
    if (r.error != 0 && end.error != r.error && end.error != r.error_too) continue;
    return fill(r.text, subject_path(ctx, r.subject));
  }
  if (end.file_failure) {
    std::string tag = end.cause;
    tag.erase(0, tag.find_first_not_of(' '));
    tag.erase(tag.find_last_not_of(' ') + 1);
    return "a file operation failed (" + tag + ": " + std::strerror(end.error) + ")";
  }
  return "the run ended with an error";
}

}  // namespace

std::string full_path(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
  if (ec) return path;
  p = p.lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return p.string();
}

std::string console_reason(const RunContext& ctx, const RunEnd& end, bool error_file) {
  std::string text;
  if (end.status == kExitBusy) {
    text = "the output set " + full_path(ctx.out.hyd_name) +
           " is being converted by another quorda run: nothing was changed; run again once it has ended";
  } else if (end.status == kExitFatal) {
    text = fatal_text(ctx, end);
  } else if (end.status == kExitOk && ctx.hdr.main_count == 0 && !ctx.out.hyd_name.empty()) {
    return "quorda: nothing in the raw file " + full_path(ctx.cmd.filespec) +
           " could be recognized (no main header record): check that it is a raw data file of the "
           "instrument\n";
  } else {
    return {};
  }
  return "quorda: " + text + (error_file ? "; details in " + full_path(ctx.local_path("QUORDA.ERR")) : "") +
         "\n";
}

}  // namespace quorda
