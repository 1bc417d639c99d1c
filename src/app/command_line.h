// The command line: quick scan for "/e", "/c", "/?", the argument loop, and the folder strings of
// the settings (separator at the end, "\" accepted as a separator on every system).
#pragma once

#include <string>

namespace quorda {

struct RunContext;
struct Diag;

// How switches are told from the raw file's path.
enum class SwitchRule {
  // Windows: "/e", "/c" and "/?" are looked for anywhere in the joined arguments, and every
  // argument that begins with '/' is a switch. Paths there are written with '\', so '/' never
  // comes from a path.
  kJoinedLine,
  // POSIX: '/' separates folders, so a switch is a whole argument made of '/' and one character;
  // every other argument, an absolute path among them, names the file.
  kWholeArgument,
};

#ifdef _WIN32
inline constexpr SwitchRule kNativeSwitchRule = SwitchRule::kJoinedLine;
// The separator this system writes between folders.
inline constexpr char kDirSeparator = '\\';
#else
inline constexpr SwitchRule kNativeSwitchRule = SwitchRule::kWholeArgument;
inline constexpr char kDirSeparator = '/';
#endif

// "--help", "-h" and "--version" as whole arguments: the text goes to standard output and the
// run ends with kExitOk before anything else is shown, read or written.
void scan_help_and_version(Diag& diag, int argc, const char* const* argv);
void scan_switches(RunContext& ctx, int argc, const char* const* argv, SwitchRule rule = kNativeSwitchRule);
void parse_command_line(RunContext& ctx, int argc, const char* const* argv,
                        SwitchRule rule = kNativeSwitchRule);
// Makes a directory string end in a separator ('\' or '/' already count); appends `sep`
// otherwise. Returns 1 when one was appended; an empty string stays empty (the current folder).
bool add_backslash(std::string& dir, char sep = kDirSeparator);
// A folder setting as this system opens it: where '/' is the separator, every '\' is one too
// (settings files are written on Windows), so "out\" and "out/" name the same folder; then the
// string is made to end in a separator.
void native_folder(std::string& dir, char sep = kDirSeparator);

}  // namespace quorda
