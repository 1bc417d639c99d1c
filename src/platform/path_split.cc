// Splitting a path into drive, directory, name and extension.
#include "platform/platform.h"

#include <sys/stat.h>

namespace quorda {

PathParts split_path(const std::string& path) {
  PathParts p;
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    p.drive = rest.substr(0, 2);
    rest = rest.substr(2);
  }
  size_t slash = rest.find_last_of("\\/");
  std::string file = rest;
  if (slash != std::string::npos) {
    p.dir = rest.substr(0, slash + 1);
    file = rest.substr(slash + 1);
  }
  size_t dot = file.find_last_of('.');
  if (dot == std::string::npos) {
    p.name = file;
  } else {
    p.name = file.substr(0, dot);
    p.ext = file.substr(dot);
  }
  return p;
}

}  // namespace quorda
