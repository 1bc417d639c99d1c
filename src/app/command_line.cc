// The command line: the quick scan for "/e", "/c" and "/?", the argument loop that finds the raw
// file and the /H /A /L switches, and add_backslash.
#include "app/command_line.h"

#include <cctype>

#include "app/run_context.h"
#include "base/run_end.h"
#include "platform/platform.h"

namespace quorda {

void scan_switches(RunContext& ctx, int argc, const char* const* argv) {
  // The arguments are joined without separator, so a switch may also be found inside a path
  // ("d:/calib/...") or across the end of one argument and the start of the next.
  std::string joined;
  for (int i = 1; i < argc; ++i) joined += argv[i];
  if (joined.find("/e") != std::string::npos) ctx.cmd.stderr_to_screen = 1;
  if (joined.find("/c") != std::string::npos) ctx.cmd.calib = 1;
  if (joined.find("/?") != std::string::npos) {
    outf(ctx.diag, "\nCommand line options are:\n\n");
    outf(ctx.diag, "    /e ... print stderr to screen \n");
    outf(ctx.diag, "    /c ... calibration: do not apply adjustment factors \n");
    end_run(kExitOk);
  }
}

void parse_command_line(RunContext& ctx, int argc, const char* const* argv) {
  bool switch_seen = false;
  bool file_seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '/') {
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
    outf(ctx.diag, "\nInvokation: \n");
    outf(ctx.diag, "\nQUORDA  filespec  [ /switch ]\n");
    outf(ctx.diag, "\nfilespec:  path and name of distrometer raw data file (V*.AB)\n");
    outf(ctx.diag, "\nswitches:\n");
    outf(ctx.diag, "    /e ... print stderr to screen \n");
    outf(ctx.diag, "    /c ... calibration: do not apply adjustment factors \n");
    end_run(kExitUsage);
  }
  make_time_zone_free();
}

int add_backslash(std::string& dir) {
  if (dir.empty()) return 0;
  if (dir.back() == '/' || dir.back() == '\\') return 0;
  dir.push_back('/');
  return 1;
}

}  // namespace quorda
