// Replacing a file whole through the Windows calls: the file's buffers flushed, then moved over
// the file's name with the move written through before it returns.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/replace_file.h"

namespace quorda {
namespace {

std::string system_error(const std::string& path) {
  return path + ": system error " + std::to_string(::GetLastError());
}

}  // namespace

bool replace_file(const std::string& temp, const std::string& path, std::string* error) {
  HANDLE h =
      ::CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h) != 0;
  if (!ok) *error = system_error(temp);
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (ok &&
      ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    *error = system_error(path);
    ok = false;
  }
  if (!ok) std::remove(temp.c_str());
  return ok;
}

}  // namespace quorda
