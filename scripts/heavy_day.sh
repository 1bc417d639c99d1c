#!/usr/bin/env bash
# Measures the converter on the heavy simulated day: simulates it into scratch/heavy (over a
# million drops in five hours of heavy rain), converts it with quorda and prints the time, the
# throughput (raw MB/s and particles/s) and the peak memory. QUORDA_BUILD_DIR and QUORDA_SEED may
# be set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build}
seed=${QUORDA_SEED:-1}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

out=scratch/heavy
rm -rf "$out"
/usr/bin/time -f "rainsim: %e s, peak memory %M KB" "$build/rainsim" --preset heavy --seed "$seed" --out "$out"
raw=$(cd "$out" && ls V*_1.ab)
quorda=$(cd "$build" && pwd)/quorda

status=0
(cd "$out" && /usr/bin/time -f "%e %M" -o time.txt "$quorda" "$raw" </dev/null >console.txt 2>&1) || status=$?
read -r secs peak_kb <"$out/time.txt"
bytes=$(stat -c %s "$out/$raw")
particles=0
[[ -f "$out/res" ]] && particles=$(wc -l <"$out/res")
echo "quorda exit status $status"
awk -v s="$secs" -v b="$bytes" -v p="$particles" -v m="$peak_kb" 'BEGIN {
  printf "converted %.1f MB and %d particles in %.2f s: %.1f MB/s, %.0f particles/s, peak memory %.1f MB\n",
         b / 1e6, p, s, b / 1e6 / s, p / s, m / 1024
}'
