// The platform layer of POSIX systems. (Placeholder: no console, no keys.)
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "frame/platform.h"

namespace quorda {

namespace {

class PosixPlatform : public Platform {
 public:
  void clear_console() override {}
  void move_cursor(int, int) override {}
  bool stdout_is_terminal() override { return ::isatty(1) != 0; }
  int poll_key() override { return kKeyNone; }
  int64_t now() override { return static_cast<int64_t>(std::time(nullptr)); }
  double now_precise() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
  }
  void sleep_seconds(double s) override { ::usleep(static_cast<useconds_t>(s * 1e6)); }
  int pending_signal() override { return 0; }
};

}  // namespace

std::unique_ptr<Platform> make_posix_platform() {
  return std::make_unique<PosixPlatform>();
}

void make_time_zone_free() {
  ::unsetenv("TZ");
  ::tzset();
}

std::tm break_down_utc(std::time_t t) {
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  tm.tm_isdst = 0;
  return tm;
}

}  // namespace quorda
