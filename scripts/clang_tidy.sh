#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the converter (src/) and the tools (tools/),
# from the compile commands of the plain build (QUORDA_BUILD_DIR, default build; configured here
# when it is not yet). Prints the findings; exits non-zero when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} ${QUORDA_CMAKE_FLAGS:-} >/dev/null
fi
# The files are chosen by a pattern on their absolute paths: this folder's src/ and tools/.
root=$(pwd | sed 's/[].[^$*+?(){}|\\]/\\&/g')
status=0
run-clang-tidy -p "$build" -j"$(nproc)" -quiet "^$root/(src|tools)/" >"$build/clang-tidy.out" \
  2>"$build/clang-tidy.err" || status=$?
# The findings name their files: the command line of each file's run is left out, and so are the
# counts of suppressed warnings that clang-tidy writes to standard error.
grep -v '^clang-tidy[-0-9]* .* -p=' "$build/clang-tidy.out" || true
grep -v -e '^[0-9]* warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
  -e '^Use -header-filter=' -e '^$' "$build/clang-tidy.err" >&2 || true
if [ "$status" -eq 0 ]; then echo "clang-tidy: no findings"; fi
exit "$status"
