// Fuzz harness of the read-back of an existing output set: the header file's pos_pix, last record length and
// main header records, the index file's minute tables and last saved line, the resume point formed from
// them, and a resumed run appending to the set.
//
// Input: four files separated by kFileSeparator: the .hyd, .hd and .abh files of the set (each
// absent when the input ends before it) and the raw file (empty when absent), all on a disk in
// memory. The work of the run is bounded by a budget of ticks.
#include <vector>

#include "fuzz/fuzz_support.h"

namespace quorda::fuzz {

namespace {

constexpr int kTickBudget = 20000;

}  // namespace

int output_set(const uint8_t* data, size_t size) {
  Conversions& runs = conversions();
  const std::vector<InputFile> files = split_files(data, size, 4);
  runs.clear();
  runs.put("V26150_1.hyd", files[0]);
  runs.put("V26150_1.hd", files[1]);
  runs.put("V26150_1.abh", files[2]);
  runs.put(kRawName, {true, files[3].bytes});
  runs.convert(kTickBudget);
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(output_set)
