// The command line: the quick scan for "/e", "/c" and "/?", the argument loop that finds the raw
// file and the /H /A /L switches, and the folder strings of the settings.
#include "app/command_line.h"

#include <cctype>
#include <string>
#include <string_view>

#include "app/run_context.h"
#include "base/diagnostics.h"
#include "base/run_end.h"
#include "base/version.h"
#include "platform/platform.h"

namespace quorda {

namespace {

// A switch under the whole-argument rule: '/' and exactly one character.
bool is_whole_switch(const char* arg) {
  return arg[0] == '/' && arg[1] != '\0' && arg[2] == '\0';
}

bool has_switch(int argc, const char* const* argv, SwitchRule rule, const char* sw) {
  if (rule == SwitchRule::kWholeArgument) {
    for (int i = 1; i < argc; ++i) {
      if (is_whole_switch(argv[i]) && argv[i][1] == sw[1]) return true;
    }
    return false;
  }
  // The arguments are joined without separator, so a switch may also be found inside a path
  // written with '/' ("d:/calib/...") or across the end of one argument and the start of the next.
  std::string joined;
  for (int i = 1; i < argc; ++i) joined += argv[i];
  return joined.find(sw) != std::string::npos;
}

}  // namespace

// The option list of "/?".
constexpr char kOptionList[] =
    "\nCommand line options are:\n\n"
    "    /e ... print stderr to screen \n"
    "    /c ... calibration: do not apply adjustment factors \n";

// The text of "--help".
constexpr char kHelp[] =
    "quorda: converts the raw data file of one measuring day into particle data\n"
    "\nusage: quorda filespec [ /e ] [ /c ]\n"
    "\nfilespec:  path and name of the raw data file (V*.AB)\n"
    "\nswitches:\n"
    "    /e ... messages to the screen instead of QUORDA.ERR\n"
    "    /c ... calibration: do not apply the adjustment factors of corrfact.dat\n"
    "    /? ... the switches\n"
    "    --help, -h ... this text\n"
    "    --version ... the version\n"
    "\nQUORDA.SET and corrfact.dat are read from the current folder, messages appended to QUORDA.ERR.\n"
    "Exit status: 0 completed, ESC or /?; 1 fatal error; 2 usage text; 3 output set busy.\n";

void scan_help_and_version(Diag& diag, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      outf(diag, "%s", kHelp);
      end_run(kExitOk);
    }
    if (arg == "--version") {
      outf(diag, "%s\n", std::string(version_text()).c_str());
      end_run(kExitOk);
    }
  }
}

void scan_switches(RunContext& ctx, int argc, const char* const* argv, SwitchRule rule) {
  if (has_switch(argc, argv, rule, "/e")) ctx.cmd.stderr_to_screen = true;
  if (has_switch(argc, argv, rule, "/c")) ctx.cmd.calib = true;
  if (has_switch(argc, argv, rule, "/?")) {
    outf(ctx.diag, "%s", kOptionList);
    end_run(kExitOk);
  }
}

// The usage text of a command line without a file.
constexpr char kUsage[] =
    "\nInvokation: \n"
    "\nQUORDA  filespec  [ /switch ]\n"
    "\nfilespec:  path and name of distrometer raw data file (V*.AB)\n"
    "\nswitches:\n"
    "    /e ... print stderr to screen \n"
    "    /c ... calibration: do not apply adjustment factors \n";

void parse_command_line(RunContext& ctx, int argc, const char* const* argv, SwitchRule rule) {
  bool switch_seen = false;
  bool file_seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool is_switch = rule == SwitchRule::kWholeArgument ? is_whole_switch(arg) : arg[0] == '/';
    if (is_switch) {
      char c = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
      if (c == 'H' || c == 'A' || c == 'L') switch_seen = true;
    } else if (!file_seen) {
      ctx.cmd.filespec = arg;
      std::string name = arg;
      size_t cut = name.find_last_of("\\/:");
      ctx.cmd.filespec_name = cut == std::string::npos ? name : name.substr(cut + 1);
      file_seen = true;
    }
  }
  if (argc <= 1 || (!switch_seen && !file_seen)) {
    outf(ctx.diag, "%s", kUsage);
    end_run(kExitUsage);
  }
  make_time_zone_free();
}

bool add_backslash(std::string& dir, char sep) {
  if (dir.empty()) return false;
  if (dir.back() == '/' || dir.back() == '\\') return false;
  dir.push_back(sep);
  return true;
}

void native_folder(std::string& dir, char sep) {
  if (sep == '/') {
    for (char& c : dir) {
      if (c == '\\') c = '/';
    }
  }
  add_backslash(dir, sep);
}

}  // namespace quorda
