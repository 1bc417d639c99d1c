// Test support: the packing of a particle record's outline as a plain model, for the tests that
// check the packer against it and for the streams the tests build by hand.
#pragma once

#include <cstdint>
#include <vector>

namespace quorda::testing {

// Passes of a 32-bit accumulator, each adding as many values of nbits bits as fit above the bits
// carried from the pass before (values past the end count as 0) and keeping 16 bits as a word;
// the carry of the last pass is the last word.
inline std::vector<uint16_t> model_packed_words(const std::vector<int>& values, int nbits) {
  std::vector<uint16_t> words;
  uint32_t carry = 0;
  int carry_bits = 0;
  size_t index = 0;
  while (index < values.size()) {
    uint32_t acc = carry;
    const int k = (32 - carry_bits) / nbits;
    for (int j = 0; j < k; ++j, ++index) {
      const uint32_t v = index < values.size() ? static_cast<uint32_t>(values[index]) : 0;
      acc += (v & ((1u << nbits) - 1)) << (j * nbits + carry_bits);
    }
    words.push_back(static_cast<uint16_t>(acc));
    carry = acc >> 16;
    carry_bits += k * nbits - 16;
  }
  words.push_back(static_cast<uint16_t>(carry));
  return words;
}

}  // namespace quorda::testing
