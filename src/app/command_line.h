// The command line: quick scan for "/e", "/c", "/?", the argument loop, and add_backslash.
#pragma once

#include <string>

namespace quorda {

struct RunContext;

void scan_switches(RunContext& ctx, int argc, const char* const* argv);
void parse_command_line(RunContext& ctx, int argc, const char* const* argv);
// Makes a directory string end in a separator; returns 1 when one was appended.
int add_backslash(std::string& dir);

}  // namespace quorda
