#!/usr/bin/env bash
# Runs the Windows test executable of a build folder under Wine, in a Wine prefix of its own.
# The tests of the console (keys, cursor, Ctrl-C) need a console: Wine gives its programs one when
# they run on a terminal, so the suite runs under a pseudo-terminal made by script(1); the
# results go to a file that is printed afterwards.
# Usage: scripts/windows_test.sh BUILD_DIR [gtest options...]
set -euo pipefail
build=$(realpath "${1:-build-win}")
shift || true
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$build/wine-prefix}
wine=$(command -v wine || command -v wine64 || command -v wine-stable)
# The first start of a prefix takes several seconds (it is set up then).
"$wine" cmd /c exit >/dev/null 2>&1 || true
log=$build/quorda_tests.log
rm -f "$log"
args=$(printf ' %q' "$@")
status=0
script -qec "cd '$build' && '$wine' quorda_tests.exe --gtest_color=no$args >'$log' 2>&1" /dev/null \
  </dev/null >/dev/null || status=$?
cat "$log"
exit $status
