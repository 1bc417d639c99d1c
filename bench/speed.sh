#!/usr/bin/env bash
# Measures the converter against the cost of its own input and output, in one run:
#   - the heavy simulated day (rainsim --preset heavy, five hours of rain) converted five times
#     with one thread (QUORDA_THREADS=1) and five times with two (QUORDA_THREADS=2), and the four
#     output files of both compared;
#   - the I/O bound of the same bytes, five times: reading the raw file from the page cache and
#     writing as many bytes as the .hyd file and "res" hold, into the same folder;
#   - a day of the same rain lasting a tenth as long (30 minutes), five times, so that the heavy
#     day is the ten-times day and the ratio of the two shows whether time stays linear;
#   - peak memory, and the system calls of one conversion (strace -c, when strace is there).
# Best of five of each, wall, user and system time; the machine's load is printed before and
# after, since other work on the same cores changes wall times (user times and the ratios of
# figures taken side by side suffer less).
# QUORDA_BUILD_DIR (default build-rel) and QUORDA_SEED (default 1) may be set; QUORDA_BEFORE may
# name another quorda binary, whose heavy-day conversion is then measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build-rel}
seed=${QUORDA_SEED:-1}
runs=5
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORDA_TESTS=OFF -DQUORDA_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target quorda rainsim >/dev/null
quorda=$(cd "$build" && pwd)/quorda
rainsim=$(cd "$build" && pwd)/rainsim

work=scratch/speed
rm -rf "$work"
mkdir -p "$work/heavy" "$work/tenth"
"$rainsim" --preset heavy --seed "$seed" --out "$work/heavy" >/dev/null
"$rainsim" --preset heavy --duration 1800 --seed "$seed" --out "$work/tenth" >/dev/null
rm -f "$work/heavy/truth.csv" "$work/tenth/truth.csv"

echo "machine: $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Prints "wall user system peak_kb" of the best of $runs runs (by user + system time, or by wall
# time when best_by=wall) of "$@", run in folder $1 after `reset` (a shell function) cleared it.
# Times come from the shell's own timer in milliseconds (/usr/bin/time rounds to 10 ms, too coarse
# for the short day), the peak memory from /usr/bin/time.
best_by=cpu
best_of() {
  local dir=$1
  shift
  local best="" line
  for _ in $(seq "$runs"); do
    reset "$dir"
    (
      cd "$dir"
      TIMEFORMAT='%3R %3U %3S'
      { time /usr/bin/time -f "%M" -o .mem "$@" </dev/null >/dev/null 2>&1; } 2>.time
    )
    line="$(tail -n 1 "$dir/.time") $(tail -n 1 "$dir/.mem")"
    if [[ -z $best ]] || awk -v a="$line" -v b="$best" -v by="$best_by" 'BEGIN { split(a, x); split(b, y)
        exit !(by == "wall" ? x[1] < y[1] : x[2] + x[3] < y[2] + y[3]) }'; then
      best=$line
    fi
  done
  echo "$best"
}

# The conversion: the output files of a run before are removed (a run resumes from them).
reset_conversion() { rm -f "$1"/*.hyd "$1"/*.hd "$1"/*.abh "$1"/res "$1"/QUORDA.ERR; }

# convert DIR [THREADS]: the conversion in DIR, with the given number of threads (default one).
convert() {
  local dir=$1 threads=${2:-1}
  reset() { reset_conversion "$1"; }
  best_of "$dir" env QUORDA_THREADS="$threads" "$quorda" "$(cd "$dir" && ls V*_1.ab)"
}

mkdir -p "$work/two"
cp "$work/heavy"/{V*_1.ab,QUORDA.SET,corrfact.dat} "$work/two/"
# Two threads are there to shorten the wall time: their best run is the one of least wall time.
two=$(best_by=wall convert "$work/two" 2)
heavy=$(convert "$work/heavy")
tenth=$(convert "$work/tenth")
for f in "$work/heavy"/*.hyd "$work/heavy"/*.hd "$work/heavy"/*.abh "$work/heavy"/res; do
  cmp -s "$f" "$work/two/$(basename "$f")" || echo "two threads wrote another file: $(basename "$f")"
done
before=""
if [[ -n ${QUORDA_BEFORE:-} ]]; then
  mkdir -p "$work/before"
  cp "$work/heavy"/{V*_1.ab,QUORDA.SET,corrfact.dat} "$work/before/"
  quorda_after=$quorda
  quorda=$(realpath "$QUORDA_BEFORE")
  before=$(convert "$work/before")
  quorda=$quorda_after
  for f in "$work/heavy"/*.hyd "$work/heavy"/*.hd "$work/heavy"/*.abh "$work/heavy"/res; do
    cmp -s "$f" "$work/before/$(basename "$f")" || echo "differs from the other binary's output: $(basename "$f")"
  done
fi
raw=$(cd "$work/heavy" && ls V*_1.ab)
in_bytes=$(stat -c %s "$work/heavy/$raw")
out_bytes=$(($(stat -c %s "$work/heavy/${raw%.ab}.hyd") + $(stat -c %s "$work/heavy/res")))
particles=$(wc -l <"$work/heavy/res")

# The I/O bound: the same bytes read and written, nothing computed.
mkdir -p "$work/io"
cp "$work/heavy/$raw" "$work/io/"
reset() { rm -f "$1/out.bin"; }
io=$(best_by=wall best_of "$work/io" sh -c "cat $raw >/dev/null && head -c $out_bytes /dev/zero >out.bin")
rm -f "$work/io/out.bin"

syscalls="(strace not installed)"
if command -v strace >/dev/null; then
  reset_conversion "$work/heavy"
  (cd "$work/heavy" && strace -c -f -o .strace "$quorda" "$raw" </dev/null >/dev/null 2>&1) || true
  syscalls=$(awk '$NF == "total" { print $4 }' "$work/heavy/.strace")
fi

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v h="$heavy" -v w="$two" -v t="$tenth" -v b="$before" -v io="$io" -v inb="$in_bytes" -v outb="$out_bytes" -v p="$particles" \
    -v sc="$syscalls" 'BEGIN {
  split(h, H); split(w, W); split(t, T); split(io, I)
  printf "heavy day: %.1f MB raw in, %.1f MB out (.hyd and res), %d particles\n", inb / 1e6, outb / 1e6, p
  printf "%-28s %8s %8s %8s %10s\n", "best of five", "wall s", "user s", "system s", "peak MB"
  printf "%-28s %8.3f %8.3f %8.3f %10.1f\n", "conversion, heavy day", H[1], H[2], H[3], H[4] / 1024
  printf "%-28s %8.3f %8.3f %8.3f %10.1f\n", "the same with two threads", W[1], W[2], W[3], W[4] / 1024
  if (b != "") {
    split(b, B)
    printf "%-28s %8.3f %8.3f %8.3f %10.1f\n", "conversion, QUORDA_BEFORE", B[1], B[2], B[3], B[4] / 1024
  }
  printf "%-28s %8.3f %8.3f %8.3f %10.1f\n", "I/O bound of the same bytes", I[1], I[2], I[3], I[4] / 1024
  printf "%-28s %8.3f %8.3f %8.3f %10.1f\n", "a tenth as long (30 min)", T[1], T[2], T[3], T[4] / 1024
  iot = I[1] > 0.01 ? I[1] : 0.01
  printf "conversion / I/O bound: wall %.1f, user + system %.1f\n", H[1] / iot, \
         (H[2] + H[3]) / (I[2] + I[3] > 0.01 ? I[2] + I[3] : 0.01)
  printf "two threads / I/O bound: wall %.2f; two threads / one thread: wall %.2f\n", W[1] / iot, \
         W[1] / (H[1] > 0.01 ? H[1] : 0.01)
  printf "heavy day / day a tenth as long: wall %.1f, user + system %.1f (linear: 10)\n", \
         H[1] / (T[1] > 0.01 ? T[1] : 0.01), (H[2] + H[3]) / (T[2] + T[3] > 0.01 ? T[2] + T[3] : 0.01)
  printf "system calls of one conversion: %s (%.4f per particle)\n", sc, (sc + 0) / (p > 0 ? p : 1)
}'
