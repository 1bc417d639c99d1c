// Texts of QUORDA.SET and corrfact.dat for a simulated instrument.
#include "sim/setup_files.h"

#include <cstdio>

namespace quorda::sim {
namespace {

constexpr size_t kValueColumn = 60;  // the value starts in column 61

void add_setting(std::string& out, const char* key, const char* what, const std::string& value) {
  std::string line = std::string(key) + "  " + what;
  line.resize(kValueColumn, ' ');
  out += line + value + "\n";
}

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  return buf;
}

void add_row(std::string& out, const char* label, const std::array<double, 10>& values) {
  out += label;
  for (double v : values) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%7.2f", v);
    out += buf;
  }
  out += "\n";
}

}  // namespace

std::string quorda_set_text(const SimInstrument& inst, const std::string& raw_path,
                            const std::string& hyd_path) {
  std::string s;
  add_setting(s, "RAW_PATH", "directory of the raw data and the index file", raw_path);
  add_setting(s, "HYD_PATH", "directory of the output files", hyd_path);
  add_setting(s, "OVERWRITE", "1: the geometry below replaces the headers'", "1");
  add_setting(s, "HBR", "light plane distance, corner BR, mm", number(inst.hbr));
  add_setting(s, "HBL", "light plane distance, corner BL, mm", number(inst.hbl));
  add_setting(s, "HFR", "light plane distance, corner FR, mm", number(inst.hfr));
  add_setting(s, "XSCAL_A", "pixel width of camera A at the centre, mm", number(inst.xs1));
  add_setting(s, "DIST_A", "distance of camera A from the centre, mm", number(inst.l1));
  add_setting(s, "XSCAL_B", "pixel width of camera B at the centre, mm", number(inst.xs2));
  add_setting(s, "DIST_B", "distance of camera B from the centre, mm", number(inst.l2));
  return s;
}

std::string corrfact_text(const CorrDeviations& dev) {
  std::string s;
  s += "Correction factors of the simulated instrument\n";
  s += "Deviations of the measured sizes in percent at the reference diameters\n";
  add_row(s, "diameter: ", dev.diameters);
  s += "Deviations (percent):\n";
  add_row(s, "height A: ", dev.percent[0]);
  add_row(s, "height B: ", dev.percent[1]);
  add_row(s, "width A : ", dev.percent[2]);
  add_row(s, "width B : ", dev.percent[3]);
  return s;
}

}  // namespace quorda::sim
