// Test support: the settings file and the correction file of a conversion folder.
#pragma once

#include <cstdio>
#include <string>

namespace quorda::testing {

struct SettingsValues {
  std::string raw_path = "./";
  std::string hyd_path = "./";
  int overwrite = 1;
  double hbr = 6.2, hbl = 6.0, hfr = 6.4;
  double xscal_a = 0.15, dist_a = 250, xscal_b = 0.15, dist_b = 250;
};

// One settings line: key from column 1, free text, value from column 61.
inline std::string settings_line(const std::string& key, const std::string& value) {
  std::string line = key + " ";
  line.resize(60, '.');
  return line + value + "\n";
}

inline std::string settings_text(const SettingsValues& v) {
  auto num = [](double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", x);
    return std::string(b);
  };
  return settings_line("RAW_PATH", v.raw_path) + settings_line("HYD_PATH", v.hyd_path) +
         settings_line("OVERWRITE", std::to_string(v.overwrite)) + settings_line("HBR", num(v.hbr)) +
         settings_line("HBL", num(v.hbl)) + settings_line("HFR", num(v.hfr)) +
         settings_line("XSCAL_A", num(v.xscal_a)) + settings_line("DIST_A", num(v.dist_a)) +
         settings_line("XSCAL_B", num(v.xscal_b)) + settings_line("DIST_B", num(v.dist_b));
}

// A correction file whose deviations are all zero (every factor 1.0).
inline std::string neutral_corrfact() {
  std::string s = "correction factors\nfree text\n";
  s += "diameter: ";
  for (int i = 1; i <= 10; ++i) {
    char b[16];
    std::snprintf(b, sizeof b, "%7.2f", static_cast<double>(i));
    s += b;
  }
  s += "\ndeviations in percent\n";
  const char* labels[] = {"height A: ", "height B: ", "width A : ", "width B : "};
  for (const char* l : labels) {
    s += l;
    for (int i = 0; i < 10; ++i) s += "   0.00";
    s += "\n";
  }
  return s;
}

}  // namespace quorda::testing
