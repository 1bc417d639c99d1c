#!/usr/bin/env bash
# Builds the programs it runs, simulates the sample rain day into scratch/sample, converts it with
# quorda and prints a short summary of what came out. QUORDA_BUILD_DIR and QUORDA_SEED may be set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/debian_packages.sh sample
build=${QUORDA_BUILD_DIR:-build}
seed=${QUORDA_SEED:-2026}
# A new build folder is configured without the tests and benchmarks (and so without their
# libraries); one that exists keeps its configuration (the build configures it again when a
# CMakeLists.txt changed). Only the programs are built.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} -DQUORDA_TESTS=OFF \
    -DQUORDA_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target quorda rainsim hydinfo rainprod campaign >/dev/null

out=scratch/sample
rm -rf "$out"
"$build/rainsim" --preset sample --seed "$seed" --out "$out"
raw=$(cd "$out" && ls V*_1.ab)
quorda=$(cd "$build" && pwd)/quorda

echo
echo "converting $out/$raw (diagnostics in $out/QUORDA.ERR)"
start=$(date +%s.%N)
status=0
(cd "$out" && "$quorda" "$raw" </dev/null >console.txt 2>&1) || status=$?
end=$(date +%s.%N)
echo "quorda exit status $status after $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s"

# The summary comes from the output set itself: hydinfo reads the .hyd, .hd and .abh files.
set_base="$out/${raw%.ab}"
info_status=0
info=$("$build/hydinfo" "$set_base") || info_status=$?
if [[ $info_status -eq 2 ]]; then
  echo "no output set at $set_base"
  exit 1
fi
echo "particles written   $(awk '/^records / { gsub(/\(/, "", $3); print $3 }' <<<"$info")"
echo "median diameter     $(awk '/^eq. diameter mm/ { print $7 }' <<<"$info") mm"
echo "median fall speed   $(awk '/^fall speed m\/s/ { print $7 }' <<<"$info") m/s"
echo "consistency check   $(awk '/^consistency / { $1 = ""; sub(/^ +/, ""); print }' <<<"$info")"
if [[ $info_status -ne 0 ]]; then
  sed -n '/^consistency /,$p' <<<"$info" | tail -n +2
  exit 1
fi

# The day's rain: products per minute as CSV and NetCDF, read from the same output set.
prod_status=0
prod=$("$build/rainprod" --csv "$out/products.csv" --nc "$out/products.nc" "$set_base" 2>&1) || prod_status=$?
if [[ $prod_status -ne 0 ]]; then
  echo "$prod"
  exit 1
fi
echo "rain amount         $(awk '/rain amount/ { print $3 }' <<<"$prod") mm (products in $out/products.csv and .nc)"
