// The program's entry: start-up, command line, error file, and the run loop.
#pragma once

namespace quorda {

class Platform;

// Runs the converter; returns the exit status.
int quorda_main(int argc, const char* const* argv, Platform& platform);

}  // namespace quorda
