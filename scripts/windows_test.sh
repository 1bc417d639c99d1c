#!/usr/bin/env bash
# Runs the Windows test executable of a build folder under Wine, in a Wine prefix of its own.
# The tests of the console (keys, cursor, Ctrl-C) need a console: Wine gives its programs one when
# they run on a terminal, so the suite runs under a pseudo-terminal made by script(1); the
# results go to a file that is printed afterwards. script's standard input stays open and empty
# for the whole run: at the end of its input script sends the terminal's end-of-file character,
# which is a zero byte in the raw mode Wine sets, and the console would show it as a key typed
# (Ctrl-@) in the middle of the key tests.
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
exec {quiet}< <(exec sleep 86400)
quiet_pid=$!
trap 'kill "$quiet_pid" 2>/dev/null || true' EXIT
script -qec "cd '$build' && '$wine' quorda_tests.exe --gtest_color=no$args >'$log' 2>&1" /dev/null \
  <&"$quiet" >/dev/null || status=$?
cat "$log"
exit $status
