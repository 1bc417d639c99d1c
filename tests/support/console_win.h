// Test support on Windows: the console of the test process, to type keys into its input, read
// what stands on its screen buffer, and start a program whose standard input and output are that
// console.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace quorda::testing {

inline INPUT_RECORD key_event(wchar_t ch, WORD vk, bool down) {
  INPUT_RECORD r = {};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.uChar.UnicodeChar = ch;
  return r;
}

class Console {
 public:
  static constexpr const char* kNoConsole =
      "the process has no console (under Wine run the suite through scripts/windows_test.sh)";

  Console() {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    in_ = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                        OPEN_EXISTING, 0, nullptr);
    out_ = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         OPEN_EXISTING, 0, nullptr);
  }
  ~Console() {
    if (in_ != INVALID_HANDLE_VALUE) ::CloseHandle(in_);
    if (out_ != INVALID_HANDLE_VALUE) ::CloseHandle(out_);
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  bool ok() const {
    DWORD mode = 0;
    return in_ != INVALID_HANDLE_VALUE && out_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(in_, &mode) &&
           ::GetConsoleMode(out_, &mode);
  }
  HANDLE in() const { return in_; }
  HANDLE out() const { return out_; }

  bool write_input(std::initializer_list<INPUT_RECORD> events) {
    std::vector<INPUT_RECORD> v(events);
    DWORD done = 0;
    return ::WriteConsoleInputW(in_, v.data(), static_cast<DWORD>(v.size()), &done) && done == v.size();
  }
  void write_at(SHORT col, SHORT row, const std::string& text) {
    DWORD done = 0;
    ::WriteConsoleOutputCharacterA(out_, text.data(), static_cast<DWORD>(text.size()), COORD{col, row},
                                   &done);
  }
  // Blanks the whole screen buffer, so that rows written by an earlier program cannot be taken
  // for those of the next.
  void clear() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(out_, &info)) return;
    DWORD done = 0;
    ::FillConsoleOutputCharacterA(
        out_, ' ', static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y), COORD{0, 0}, &done);
  }
  // The characters of one row of the screen buffer.
  std::string read_row(SHORT row) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(out_, &info)) return std::string();
    std::string s(static_cast<size_t>(info.dwSize.X), ' ');
    DWORD done = 0;
    ::ReadConsoleOutputCharacterA(out_, s.data(), static_cast<DWORD>(s.size()), COORD{0, row}, &done);
    s.resize(done);
    return s;
  }
  COORD cursor() {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    ::GetConsoleScreenBufferInfo(out_, &info);
    return info.dwCursorPosition;
  }

  // Puts two handles in place of the process's standard input and output for the life of the
  // object (the platform takes them when it is made).
  class StdHandles {
   public:
    StdHandles(HANDLE in, HANDLE out)
        : old_in_(::GetStdHandle(STD_INPUT_HANDLE)), old_out_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
      ::SetStdHandle(STD_INPUT_HANDLE, in);
      ::SetStdHandle(STD_OUTPUT_HANDLE, out);
    }
    ~StdHandles() {
      ::SetStdHandle(STD_INPUT_HANDLE, old_in_);
      ::SetStdHandle(STD_OUTPUT_HANDLE, old_out_);
    }
    StdHandles(const StdHandles&) = delete;
    StdHandles& operator=(const StdHandles&) = delete;

   private:
    HANDLE old_in_;
    HANDLE old_out_;
  };

  // Starts `exe` with `args` in folder `cwd`, standard input and output on this console and
  // standard error into the file `err_path`. Returns the process handle, or nullptr.
  HANDLE start(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
               const std::string& err_path) {
    std::string cmd = "\"" + exe + "\"";
    for (const auto& a : args) cmd += " " + a;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE err = ::CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_;
    si.hStdOutput = out_;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    const BOOL ok =
        ::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &si, &pi);
    ::CloseHandle(err);
    if (!ok) return nullptr;
    ::CloseHandle(pi.hThread);
    return pi.hProcess;
  }

 private:
  HANDLE in_ = INVALID_HANDLE_VALUE;
  HANDLE out_ = INVALID_HANDLE_VALUE;
};

}  // namespace quorda::testing
