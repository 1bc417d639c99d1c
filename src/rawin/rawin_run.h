// What the raw-input routines read and change, handed to them by the run: the raw file, the
// decoder, the file room, the main headers, the minute index, the output set with its record buffer, the
// reading positions, the settings and the raw file's path as given on the command line.
#pragma once

#include <string>

#include "base/diagnostics.h"
#include "base/run_settings.h"
#include "outset/output_set.h"
#include "platform/files.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct RawinRun {
  Diag& diag;
  Files* files;  // the file room of the run
  const Settings& settings;
  RawInput& raw;
  Decoder& dec;
  HeaderBook& hdr;
  MinuteIndex& minutes;
  OutputSet& out;
  DriverState& drv;
  StreamFraming& framing;
  const std::string& filespec;       // raw file path as typed
  const std::string& filespec_name;  // its name and extension
};

}  // namespace quorda
