#!/usr/bin/env bash
# Builds everything, simulates the sample rain day into scratch/sample, converts it with quorda and
# prints a short summary of what came out. QUORDA_BUILD_DIR and QUORDA_SEED may be set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build}
seed=${QUORDA_SEED:-2026}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

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

if [[ ! -s "$out/res" ]]; then
  echo "no particles in $out/res"
  exit 1
fi
# res: column 1 equivalent diameter (mm), columns 4 and 7 the fall speeds at the planes of camera
# A and camera B (m/s).
median() { sort -g | awk '{ a[NR] = $1 } END { printf "%.3f", NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
echo "particles written   $(wc -l <"$out/res")"
echo "median diameter     $(awk '{ print $1 }' "$out/res" | median) mm"
echo "median fall speed   $(awk '{ print ($4 + $7) / 2 }' "$out/res" | median) m/s"
