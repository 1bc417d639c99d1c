// A platform that answers nothing: the benchmarks measure routines that never ask it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace quorda {

class NullPlatform : public Platform {
 public:
  void clear_console() override {}
  void move_cursor(int /*row*/, int /*col*/) override {}
  bool stdout_is_terminal() override { return false; }
  int poll_key() override { return kKeyNone; }
  int64_t now() override { return 0; }
  double now_precise() override { return 0; }
  void sleep_seconds(double /*s*/) override {}
  int pending_signal() override { return 0; }
};

}  // namespace quorda
