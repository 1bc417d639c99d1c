// The text of a file error, the same on every system (the C library's text for the number), and
// what a file room without folders, links or other processes answers.
#include <cstring>

#include "platform/files.h"

namespace quorda {

std::string file_error_text(FileError e) {
  return std::strerror(e.code);
}

FileKind Files::kind(const std::string& path, bool /*follow_links*/) {
  return exists(path) ? FileKind::kRegular : FileKind::kMissing;
}

bool Files::same_file(const std::string& a, const std::string& b) {
  return a == b && exists(a);
}

bool Files::sync_folder(const std::string& /*dir*/, FileError* /*err*/) {
  return true;
}

LockState Files::lock(const std::string& /*path*/, std::unique_ptr<File>* held, int64_t* holder,
                      FileError* /*err*/) {
  held->reset();
  *holder = 0;
  return LockState::kTaken;
}

}  // namespace quorda
