// What the measuring and writing routines read and change, handed to them by the run: the
// correction factors, the text file "res", the main headers, the minute index, the output set with
// its record buffer, the settings, the clock, the working folder and the calibration switch.
#pragma once

#include <string>

#include "base/diagnostics.h"
#include "base/run_settings.h"
#include "measure/measure_state.h"
#include "platform/platform.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct MeasureRun {
  Diag& diag;
  Platform* platform;
  const Settings& settings;
  CorrTables& corr;
  EvalState& eval;
  HeaderBook& hdr;
  MinuteIndex& minutes;
  OutputSet& out;
  Writer& writer;
  const std::string& home;  // folder of corrfact.dat and "res": "" for the current one
  int16_t calib;            // "/c": every correction factor is 1.0

  // A file of the working folder: home + name.
  std::string local_path(const char* name) const { return home + name; }
};

}  // namespace quorda
