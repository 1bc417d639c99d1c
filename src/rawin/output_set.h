// The output file set (".hyd", ".hd", ".abh") and the resume point of an earlier run.
#pragma once

#include "rawin/rawin_run.h"

namespace quorda {

// Builds the names of the set's three files and of its lock file from the raw file's base name.
void name_output_set(const RawinRun& ctx);

// Builds the names, opens or creates the files, restores the saved state and sets the two
// raw-file cursors to the resume point. The folders of files it creates are synced.
void open_output_set(const RawinRun& ctx);

}  // namespace quorda
