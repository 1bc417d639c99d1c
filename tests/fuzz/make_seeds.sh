#!/usr/bin/env bash
# Makes the seed corpora of the fuzz harnesses (tests/fuzz/corpus/<harness>/seed-*) from small
# days of the rain simulator and their conversions. Usage: tests/fuzz/make_seeds.sh BUILD_DIR
# (a build with rainsim and quorda). Inputs found by fuzzing (named after what they found) are
# kept beside the seeds and are not touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: make_seeds.sh BUILD_DIR}" && pwd)
corpus=$here/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Three short days: plain rain; rain with clutter that only camera B sees; rain across a minute
# boundary with a main header every second.
"$build/rainsim" --preset sample --seed 3 --start 09:59:58 --duration 4 --quiet --out "$work/d1"
"$build/rainsim" --preset sample --seed 5 --start 12:00:00 --duration 4 --clutter 20 --quiet --out "$work/d2"
"$build/rainsim" --preset sample --seed 7 --start 13:59:59 --duration 2 --header-every 1 --status-every 1 \
  --rate 20 --quiet --out "$work/d3"
for d in d1 d2 d3; do
  (cd "$work/$d" && "$build/quorda" V26150_1.ab /e >/dev/null 2>&1)
done
# A set resumed once: the first run saw the first half of the raw file of day 1.
mkdir "$work/half"
cp "$work/d1/QUORDA.SET" "$work/d1/corrfact.dat" "$work/half/"
head -c 2600 "$work/d1/V26150_1.ab" >"$work/half/V26150_1.ab"
(cd "$work/half" && "$build/quorda" V26150_1.ab /e >/dev/null 2>&1)

/usr/bin/python3 - "$work" "$corpus" <<'PY'
import os, struct, sys
work, corpus = sys.argv[1], sys.argv[2]
SEP = b"#~FILE~#"

def read(*p):
    with open(os.path.join(work, *p), "rb") as f:
        return f.read()

def put(harness, name, data):
    d = os.path.join(corpus, harness)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)

def records(raw):
    at = 0
    while at + 4 <= len(raw):
        kind, n = struct.unpack_from("<hh", raw, at)
        if n < 0 or at + 4 + n > len(raw):
            return
        yield kind, raw[at + 4:at + 4 + n]
        at += 4 + n

# raw_day: mode byte (bit 0: resumed), share of the first run's prefix, raw file.
put("raw_day", "plain", bytes([0, 0]) + read("d1", "V26150_1.ab"))
put("raw_day", "clutter-resumed-half", bytes([1, 128]) + read("d2", "V26150_1.ab"))
put("raw_day", "headers-resumed-quarter", bytes([1, 64]) + read("d3", "V26150_1.ab"))

# line_block: line-block payloads of both cameras, of several sizes.
blocks = sorted({p for d in ("d1", "d2", "d3") for k, p in records(read(d, "V26150_1.ab")) if k in (1, 2)},
                key=len)
for i in range(0, len(blocks), max(1, len(blocks) // 12)):
    put("line_block", "%02d-%d-bytes" % (i, len(blocks[i])), blocks[i])

# settings and corrfact: the simulator's files, and the same with carriage returns.
for name, harness in (("QUORDA.SET", "settings"), ("corrfact.dat", "corrfact")):
    text = read("d1", name)
    put(harness, "lf", text)
    put(harness, "crlf", text.replace(b"\n", b"\r\n"))

# output_set: .hyd, .hd, .abh and the raw file. A completed set; a set of half the day with the
# whole raw file; a set just created (no records) with the whole raw file.
d1 = [read("d1", "V26150_1." + e) for e in ("hyd", "hd", "abh", "ab")]
half = [read("half", "V26150_1." + e) for e in ("hyd", "hd", "abh")] + [d1[3]]
put("output_set", "completed", SEP.join(d1))
put("output_set", "half-then-whole", SEP.join(half))
created = [b"", struct.pack("<1442i", *([0] + [-1] * 1441)) + struct.pack("<h", 0),
           struct.pack("<2884i", *([0] * 2884)) + struct.pack("<I", 0), d1[3]]
put("output_set", "created", SEP.join(created))

# hydinfo: .hyd, .hd, .abh of converted sets.
for d in ("d1", "d3", "half"):
    put("hydinfo", d, SEP.join(read(d, "V26150_1." + e) for e in ("hyd", "hd", "abh")))

# rainprod: a settings byte (interval, area rule, tolerance) and the .hyd of a converted set.
for d, b in (("d1", 0), ("d2", 0x15), ("d3", 0x1A)):
    put("rainprod", d, bytes([b]) + read(d, "V26150_1.hyd"))
PY
du -sh "$corpus"
