// What measuring a pair reads and changes, handed to the measuring routines by the run: the
// correction factors, the text file "res", the main headers (the geometry in force), the settings
// and the working folder.
#pragma once

#include <string>

#include "base/diagnostics.h"
#include "base/run_settings.h"
#include "measure/measure_state.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct MeasureRun {
  Diag& diag;
  const Settings& settings;
  CorrTables& corr;
  EvalState& eval;
  HeaderBook& hdr;
  const std::string& home;  // folder of corrfact.dat and "res": "" for the current one

  // A file of the working folder: home + name.
  std::string local_path(const char* name) const { return home + name; }
};

}  // namespace quorda
