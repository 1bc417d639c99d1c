#!/usr/bin/env bash
# Converts one simulated day with two builds of quorda and compares their output files byte for
# byte (.hyd, .hd, .abh and res); prints the time and peak memory of each conversion.
# Usage: scripts/compare_outputs.sh OLD_QUORDA NEW_QUORDA DAY_DIR
# DAY_DIR holds what rainsim wrote (V26150_1.ab, QUORDA.SET, corrfact.dat); it is not modified.
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
day=$(realpath "$3")
raw=$(cd "$day" && ls V*_1.ab)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for side in old new; do
  mkdir "$work/$side"
  cp "$day/$raw" "$day/QUORDA.SET" "$day/corrfact.dat" "$work/$side/"
  bin=$old
  [[ $side == new ]] && bin=$new
  (cd "$work/$side" && /usr/bin/time -f "%e s wall, %U s user, %S s system, peak %M KB" -o time.txt \
    "$bin" "$raw" </dev/null >/dev/null 2>&1)
  echo "$side: $(cat "$work/$side/time.txt")"
done

status=0
base=${raw%.ab}
for f in "$base.hyd" "$base.hd" "$base.abh" res; do
  if cmp "$work/old/$f" "$work/new/$f"; then
    echo "same: $f ($(stat -c %s "$work/new/$f") bytes)"
  else
    status=1
  fi
done
exit $status
