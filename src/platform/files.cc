// The text of a file error, the same on every system (the C library's text for the number).
#include <cstring>

#include "platform/files.h"

namespace quorda {

std::string file_error_text(FileError e) {
  return std::strerror(e.code);
}

}  // namespace quorda
