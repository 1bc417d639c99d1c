// Guards of the run's files against what operations can put in their place: an input that is no
// regular file (a folder, a pipe, a device: read as empty, or waited on for ever), a raw file that
// is one of the run's own output files (the run would overwrite what it reads), an output file
// that is a symbolic link (the run would write a file elsewhere). Each ends the run with a message
// naming the file and kExitFatal, before the run has written anything the guard protects.
#pragma once

namespace quorda {

struct RunContext;

// The raw file, QUORDA.SET and corrfact.dat (unless "/c") must be regular files where they exist;
// a missing one is said by its reader.
void refuse_irregular_inputs(RunContext& ctx);

// After the set is named and before it is locked: none of "res", QUORDA.ERR (unless "/e"), the
// set's three files and its lock file may be the raw file itself, nor a symbolic link.
void refuse_unsafe_outputs(RunContext& ctx);

}  // namespace quorda
