#!/usr/bin/env bash
# Cross-builds the Windows programs (quorda.exe, hydinfo.exe, rainsim.exe) and the Windows test
# executable with MinGW-w64, and packs the programs into a zip. With --test the test suite then
# runs under Wine. QUORDA_WIN_BUILD_DIR (default build-win) and QUORDA_CMAKE_FLAGS may be set.
#
#   bash scripts/windows_build.sh            # build-win/quorda-<version>-windows-x64.zip
#   bash scripts/windows_build.sh --test     # and the tests under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_WIN_BUILD_DIR:-build-win}
run_tests=0
if [[ ${1:-} == --test ]]; then
  run_tests=1
  shift
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} -DQUORDA_BENCH=OFF ${QUORDA_CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G ZIP >/dev/null)
ls "$build"/*.zip

if [[ $run_tests == 1 ]]; then
  bash scripts/windows_test.sh "$build" "$@"
fi
