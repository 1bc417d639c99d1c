// The output file set (".hyd", ".hd", ".abh") and the resume point of an earlier run.
#pragma once

#include "rawin/rawin_run.h"

namespace quorda {

// Builds the three names, opens or creates the files, restores the saved state and sets the two
// raw-file cursors to the resume point.
void open_output_set(const RawinRun& ctx);

}  // namespace quorda
