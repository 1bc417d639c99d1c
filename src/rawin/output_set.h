// The output file set (".hyd", ".hd", ".abh") and the resume point of an earlier run.
#pragma once

namespace quorda {

struct RunContext;

// Builds the three names, opens or creates the files, restores the saved state and sets the two
// raw-file cursors to the resume point.
void pixfil(RunContext& ctx);

}  // namespace quorda
