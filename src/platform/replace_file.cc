// The temporary name of a file replaced whole.
#include "platform/replace_file.h"

namespace quorda {

std::string replacement_path(const std::string& path) {
  return path + ".part";
}

}  // namespace quorda
