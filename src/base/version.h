// The version of the programs: the release number of the project and the commit the build was made
// from. Every program reports the same version; the build writes the definitions (cmake/version.cc.in),
// so that a new commit recompiles one file only.
#pragma once

#include <string_view>

namespace quorda {

// The release number, e.g. "1.1.0".
std::string_view version_number();

// The commit of the source tree the build was made from, abbreviated, with "-dirty" when the tree
// held changes not committed; "unknown" when the sources were built outside a git checkout.
std::string_view version_commit();

// The version line of every program: "quorda 1.1.0 (commit abc1234)".
std::string_view version_text();

}  // namespace quorda
