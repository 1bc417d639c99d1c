// Values of the settings file QUORDA.SET, read once at the start of a run and then only read.
#pragma once

#include <cstdint>
#include <string>

namespace quorda {

// Settings of QUORDA.SET; zero or empty until read.
struct Settings {
  std::string raw_path;
  std::string hyd_path;
  int32_t overwrite = 0;
  float hbr = 0, hbl = 0, hfr = 0;
  float xscal_a = 0, dist_a = 0, xscal_b = 0, dist_b = 0;
};

}  // namespace quorda
