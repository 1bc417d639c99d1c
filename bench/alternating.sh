#!/usr/bin/env bash
# The heavy simulated day converted with two threads against the I/O bound of the same bytes, in
# alternating runs: round k converts the day once (QUORDA_THREADS=2) and then reads the raw file
# and writes as many bytes as the .hyd file and "res" hold, into the same folder. Alternating
# keeps both under the same load of the machine; the medians of the wall times and their ratio
# are printed, with the load average before and after. The conversion's processor time (user and
# system) is printed too: on two processors its half is the least wall time the conversion can
# take, whatever the split of its work between the threads.
# QUORDA_BUILD_DIR (default build-rel), QUORDA_SEED (default 1) and QUORDA_RUNS (default 7) may be
# set; the build folder must hold quorda and rainsim.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build-rel}
runs=${QUORDA_RUNS:-7}
quorda=$(realpath "$build/quorda")
work=scratch/alternating
rm -rf "$work"
mkdir -p "$work/day" "$work/io"
"$build/rainsim" --preset heavy --seed "${QUORDA_SEED:-1}" --out "$work/day" >/dev/null
rm -f "$work/day/truth.csv"
raw=$(cd "$work/day" && ls V*_1.ab)
cp "$work/day/$raw" "$work/io/"

# Wall time in seconds of "$@" run in folder $1.
wall() {
  local dir=$1
  shift
  (
    cd "$dir"
    TIMEFORMAT=%3R
    { time "$@" </dev/null >/dev/null 2>&1; } 2>&1
  )
}
# Wall time and processor time (user + system) in seconds of "$@" run in folder $1.
wall_and_cpu() {
  local dir=$1
  shift
  (
    cd "$dir"
    TIMEFORMAT='%3R %3U %3S'
    { time "$@" </dev/null >/dev/null 2>&1; } 2>&1
  ) | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
clear_outputs() { rm -f "$work/day"/*.hyd "$work/day"/*.hd "$work/day"/*.abh "$work/day"/res "$work/day"/QUORDA.ERR; }

clear_outputs
(cd "$work/day" && QUORDA_THREADS=2 "$quorda" "$raw" </dev/null >/dev/null 2>&1)
out_bytes=$(($(stat -c %s "$work/day/${raw%.ab}.hyd") + $(stat -c %s "$work/day/res")))

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
conv=()
cpu=()
io=()
for _ in $(seq "$runs"); do
  clear_outputs
  read -r w c < <(wall_and_cpu "$work/day" env QUORDA_THREADS=2 "$quorda" "$raw")
  conv+=("$w")
  cpu+=("$c")
  rm -f "$work/io/out.bin"
  io+=("$(wall "$work/io" sh -c "cat $raw >/dev/null && head -c $out_bytes /dev/zero >out.bin")")
done
rm -f "$work/io/out.bin"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
c=$(median "${conv[@]}")
p=$(median "${cpu[@]}")
i=$(median "${io[@]}")
echo "two threads, wall s: ${conv[*]}"
echo "two threads, user + system s: ${cpu[*]}"
echo "I/O bound,   wall s: ${io[*]}"
awk -v c="$c" -v p="$p" -v i="$i" -v n="$runs" 'BEGIN {
  if (i < 0.001) i = 0.001
  printf "median of %d: two threads %.3f s, I/O bound %.3f s, ratio %.2f\n", n, c, i, c / i
  printf "processor time %.3f s: half of it, the least wall time on two processors, is %.2f times the bound\n", p, p / 2 / i }'
