// Test support: the start-up banner as the console must show it, written out by hand.
#pragma once

namespace quorda::testing {

inline constexpr char kBanner[] =
    "\n    ====================================================================\n"
    "    |                                                                  |\n"
    "    |         T H E   T A R N E V O                                    |\n"
    "    |                                                                  |\n"
    "    |      MIRELTON                                                    |\n"
    "    |                                                                  |\n"
    "    |      (Mar. 23, 2010, 00:17 internal version no. 8.002)           |\n"
    "    |                                                                  |\n"
    "    |                                                         HALDRIM  |\n"
    "    ====================================================================\n"
    "\n\n";

}  // namespace quorda::testing
