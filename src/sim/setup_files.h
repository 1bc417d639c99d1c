// The converter's two configuration files for a simulated instrument: QUORDA.SET and corrfact.dat.
//
// QUORDA.SET holds one key per line in column 1, a short description, and the value from column 61
// on. corrfact.dat holds two text lines, the reference diameters, a text line and four lines of
// deviations in percent (height A, height B, width A, width B); each value line is a 10-character
// label and ten 7-character fields.
#pragma once

#include <array>
#include <string>

#include "sim/sim_instrument.h"

namespace quorda::sim {

struct CorrDeviations {
  std::array<double, 10> diameters = {0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0};  // mm
  std::array<std::array<double, 10>, 4> percent = {};  // height A, height B, width A, width B
};

// The text of QUORDA.SET. Directories must be blank-free and at most 19 characters.
// The geometry keys state the simulated instrument and OVERWRITE is 1, so the converter uses
// them instead of the fixed scales of the main headers.
std::string quorda_set_text(const SimInstrument& inst, const std::string& raw_path,
                            const std::string& hyd_path);

// The text of corrfact.dat.
std::string corrfact_text(const CorrDeviations& dev);

}  // namespace quorda::sim
