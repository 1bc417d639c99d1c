// Consistency check of a converter output set: the hydrometeor stream (".hyd"), the header file
// (".hd") and the index file (".abh"), given as whole-file byte buffers.
//
// The check reads untrusted bytes and never looks past them. It finds faults of the stream's
// framing, of the header file's head and records, and of the index file; each fault is one line
// naming the file, the place and what was found against what was expected.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/hyd_walker.h"

namespace quorda {

struct OutputSetBytes {
  std::span<const uint8_t> hyd;
  std::span<const uint8_t> hd;
  std::span<const uint8_t> abh;
};

// The faults of the set, one line each; empty when consistent. `walk` is walk_hyd(set.hyd).
// Checks that depend on the whole stream (the header file's records, its pos_pix and last
// record length, the last saved line) are made only when the walk met no fault, so that one damaged record
// gives one line.
std::vector<std::string> check_output_set(const HydWalk& walk, const OutputSetBytes& set);

}  // namespace quorda
