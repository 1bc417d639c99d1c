// The console line of a run that did not end as it should: what went wrong in plain words, which
// file or folder it concerns and what to do, said once on the console after the run, beside the
// tagged lines of the error stream.
#pragma once

#include <string>

namespace quorda {

struct RunContext;
struct RunEnd;

// The line for the run's end (empty when there is nothing to say); `error_file` tells that the
// messages went to QUORDA.ERR.
// The path made absolute and plain ("a/./b/" -> "/cwd/a/b"), as the console names files.
std::string full_path(const std::string& path);

std::string console_reason(const RunContext& ctx, const RunEnd& end, bool error_file);

}  // namespace quorda
