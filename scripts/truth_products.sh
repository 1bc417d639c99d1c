#!/usr/bin/env bash
# Simulates a rain day with drops falling around the field as well (rainsim --margin), converts it,
# computes its rain products per 10 minutes and compares them with the simulator's truth.
#
#   bash scripts/truth_products.sh sample            # the sample preset
#   bash scripts/truth_products.sh heavy
#   bash scripts/truth_products.sh gamma             # one hour of gamma-distributed rain at 12 mm/h
#
# Then it follows every drop of the truth to its particle record (scripts/match_losses.py: what the
# pairing lost, by cause, size and place, and the area rules against the truth); LOSSES=0 skips that.
#
# QUORDA_BUILD_DIR, QUORDA_SEED (default 1), MARGIN (pixels, default 40), SIM_OPTIONS (more rainsim
# options, e.g. "--dead-a 1,1 --dead-b 1,1" or "--gap 14:20:00 --gap-duration 1200") and
# PRODUCT_OPTIONS (more rainprod options, e.g. "--area shadow"), COMPARE_OPTIONS (e.g. "--check") and
# BUILD=0 (the programs are built already) may be set. The day goes to scratch/truth-NAME, or
# scratch/truth-NAME-TAG with TAG set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORDA_BUILD_DIR:-build}
seed=${QUORDA_SEED:-1}
margin=${MARGIN:-40}
name=${1:?usage: truth_products.sh sample|heavy|gamma|drizzle}
case "$name" in
  sample | heavy) sim=(--preset "$name") ;;
  gamma) sim=(--preset sample --dist gamma --mu 3 --rate 12 --start 14:00:00 --duration 3600) ;;
  drizzle) sim=(--preset sample --rate 0.5 --dmin 0.2 --dmax 3 --start 08:00:00 --duration 3600) ;;
  *) echo "unknown day $name" >&2; exit 2 ;;
esac
if [ "${BUILD:-1}" != 0 ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${QUORDA_BUILD_TYPE:-RelWithDebInfo} >/dev/null
  cmake --build "$build" -j"$(nproc)" --target quorda rainsim rainprod hydinfo >/dev/null
fi
out=scratch/truth-$name${TAG:+-$TAG}
rm -rf "$out"
# shellcheck disable=SC2086
"$build/rainsim" "${sim[@]}" ${SIM_OPTIONS:-} --seed "$seed" --margin "$margin" --out "$out" --quiet
quorda=$(cd "$build" && pwd)/quorda
(cd "$out" && "$quorda" V26150_1.ab </dev/null >console.txt 2>&1)
# shellcheck disable=SC2086
"$build/rainprod" --quiet --interval 600 ${PRODUCT_OPTIONS:-} --nc "$out/products10.nc" "$out/V26150_1"
# shellcheck disable=SC2086
/usr/bin/python3 scripts/compare_truth.py "$out/truth.csv" "$out/products10.nc" ${COMPARE_OPTIONS:-} \
  --label "$name, seed $seed, margin $margin px ${SIM_OPTIONS:-} ${PRODUCT_OPTIONS:-}"
if [ "${LOSSES:-1}" != 0 ]; then
  /usr/bin/python3 scripts/match_losses.py "$out" --hydinfo "$build/hydinfo"
fi
