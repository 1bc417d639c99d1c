#!/usr/bin/env bash
# Builds everything and runs all tests. QUORDA_BUILD_DIR and QUORDA_CMAKE_FLAGS may be set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/debian_packages.sh test
build=${QUORDA_BUILD_DIR:-build}
# Tests and benchmarks on, also in a folder that sample_day.sh configured without them.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} -DQUORDA_TESTS=ON -DQUORDA_BENCH=ON \
  ${QUORDA_CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
