// Replacing a file whole: its new content is written under a temporary name in the same folder,
// made durable, renamed over the file's name, and the folder made durable. A reader, or a run
// killed or cut off by a power loss on the way, sees the previous file or the new one (or none
// when there was none before), never a part of the new one under the file's name.
#pragma once

#include <string>

namespace quorda {

// The temporary name beside `path` under which its new content is written: `path` + ".part".
std::string replacement_path(const std::string& path);

// Makes the written file `temp` durable, renames it over `path` and makes their folder durable.
// False with *error set to the system's reason when a step failed; `temp` is then removed and
// `path` left as it was.
bool replace_file(const std::string& temp, const std::string& path, std::string* error);

}  // namespace quorda
