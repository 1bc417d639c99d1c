#!/usr/bin/env bash
# Builds everything and runs all tests. QUORDA_BUILD_DIR and QUORDA_CMAKE_FLAGS may be set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} ${QUORDA_CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
