#!/usr/bin/env bash
# Converts one day with the Linux build and with the Windows build (under Wine) and checks that
# the binary outputs (.hyd, .hd, .abh) are byte-identical and that "res" is identical apart from
# line ends: every line of the Windows "res" ends in CR LF and none in a bare LF.
# Usage: scripts/windows_compare.sh LINUX_QUORDA WINDOWS_QUORDA_EXE DAY_DIR
# DAY_DIR holds what rainsim wrote (V*_1.ab, QUORDA.SET, corrfact.dat); it is not modified.
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
day=$(realpath "$3")
raw=$(cd "$day" && ls V*_1.ab)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$(dirname "$windows")/wine-prefix}
wine=$(command -v wine || command -v wine64 || command -v wine-stable)

for side in linux windows; do
  mkdir "$work/$side"
  cp "$day/$raw" "$day/QUORDA.SET" "$day/corrfact.dat" "$work/$side/"
done
start=$(date +%s%N)
(cd "$work/linux" && "$linux" "$raw" </dev/null >/dev/null 2>&1)
mid=$(date +%s%N)
(cd "$work/windows" && "$wine" "$windows" "$raw" </dev/null >/dev/null 2>&1)
end=$(date +%s%N)
echo "linux $(((mid - start) / 1000000)) ms, windows under wine $(((end - mid) / 1000000)) ms"

status=0
base=${raw%.ab}
for f in "$base.hyd" "$base.hd" "$base.abh"; do
  if cmp "$work/linux/$f" "$work/windows/$f"; then
    echo "same: $f ($(stat -c %s "$work/linux/$f") bytes)"
  else
    status=1
  fi
done
lines=$(wc -l <"$work/linux/res")
crlf=$(grep -c $'\r$' "$work/windows/res" || true)
if [[ $crlf != "$lines" ]] || [[ $(wc -l <"$work/windows/res") != "$lines" ]]; then
  echo "res: $lines lines on Linux, $crlf of $(wc -l <"$work/windows/res") Windows lines end in CR LF"
  status=1
elif tr -d '\r' <"$work/windows/res" | cmp - "$work/linux/res"; then
  echo "same apart from line ends: res ($lines lines)"
else
  status=1
fi
exit $status
