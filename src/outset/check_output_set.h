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
  // The name and extension of the hydrometeor file as its main header records hold it (cut to 13
  // characters); empty: not checked.
  std::string pix_file = {};
};

// The faults of the set, one line each; empty when consistent. Besides the framing, the particle
// records must rise in t1 (none repeated), the header file's pos_pix must be the one a run writes for
// the stream, and the index file must have a saved or created size and minute tables that do not
// decrease up to their last entry. `walk` is walk_hyd(set.hyd).
// Checks that depend on the whole stream (the header file's records, its pos_pix and last
// record length, the last saved line) are made only when the walk met no fault, so that one damaged record
// gives one line.
std::vector<std::string> check_output_set(const HydWalk& walk, const OutputSetBytes& set);

// The header file's pos_pix as a run writes it for the walked stream: entry 0 is 0; each particle
// record enters every minute after the last one entered up to its own, its minute formed with the
// line frequency of the last main header record before it (none before it: no minute).
std::vector<int32_t> expected_pos_pix(const HydWalk& walk);

}  // namespace quorda
