#!/usr/bin/python3
"""Where the drops of a simulated day go between the truth and the rain products.

    /usr/bin/python3 scripts/match_losses.py DAY_DIR [--hydinfo build/hydinfo]

DAY_DIR holds a converted simulated day: truth.csv of rainsim, the output set V26150_1.* and the
products file products10.nc of rainprod (for the geometry), as scripts/truth_products.sh leaves it.
Every drop of the truth is looked up among the particle records by its first line and first
pixel in camera A. For the drops centred in the field it prints

  - what became of them: a record, or lost, and for a lost drop the first reason the truth
    gives: merged with another particle, cut by a block boundary, cut by the field's edge, or
    pixel widths in the two cameras that the pairing's width test refuses (|w_A - w_B| > 5 or a
    ratio outside 2/3 .. 3/2, widths as end - start pixels); else "other";
  - the share lost per size class and per quarter of the field along each camera's line;
  - what the records kept by the rain products' filter (not edge-cut, 0.1-10 mm, speed within
    50 % of the terminal speed) add up to under each rule for the effective area, against the
    truth: the number of drops and their volume (the rain amount) per size class.

The area rules: "field" W_A W_B; "diameter" (W_A - D)(W_B - D); "shadow" (W_A - p_A - w_A)
(W_B - p_B - w_B), the products' default; "paired" the shadow rule times the share of the places
in the field where a drop of the particle's mean shadow width is paired (the rule of rainprod's
default --area paired, here on a coarser grid of the field).
"""
import argparse
import math
import subprocess
import sys

import numpy as np
import pandas as pd

MAX_WIDTH_DIFF = 5


def width_test_fails(wa, wb):
    wa = np.asarray(wa, dtype=float)
    wb = np.asarray(wb, dtype=float)
    # The ratio in single precision, as the pairing computes it: 2 / 3 passes.
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = wa.astype(np.float32) / wb.astype(np.float32)
    return (wa == 0) | (wb == 0) | (np.abs(wa - wb) > MAX_WIDTH_DIFF) | (ratio > np.float32(1.5)) | (
        ratio < np.float32(2 / 3))


def read_records(hydinfo, base):
    out = subprocess.run([hydinfo, "--csv", "--outline", base], check=True, capture_output=True, text=True).stdout
    lines = out.splitlines()[1:]
    n = len(lines)
    t1 = np.zeros(n, dtype=np.int64)
    xa = np.zeros(n, dtype=np.int64)
    d = np.zeros(n)
    v = np.zeros(n)
    sa = np.zeros(n)
    sb = np.zeros(n)
    wa = np.zeros(n, dtype=np.int64)
    wb = np.zeros(n, dtype=np.int64)
    edge_lo = np.zeros(n, dtype=bool)
    top = np.zeros(n, dtype=np.int64)
    first_b = np.zeros(n, dtype=np.int64)
    xb = np.zeros(n, dtype=np.int64)
    for i, line in enumerate(lines):
        f = line.split(",")
        t1[i] = int(float(f[0]))
        d[i] = float(f[2])
        v[i] = float(f[3])
        sa[i] = float(f[4])
        sb[i] = float(f[5])
        xa[i] = int(f[9])
        xb[i] = int(f[10])
        first_b[i] = t1[i] + int(f[8])  # diff_lins: lines from A's first line to B's
        for cam, col in ((0, 13), (1, 14)):
            widest = 0
            lo = 1 << 30
            hi = -1
            for run in f[col].split(";"):
                s, e = run.split(":")
                s = int(s)
                e = int(e)
                widest = max(widest, e - s)
                lo = min(lo, s)
                hi = max(hi, e)
            if cam == 0:
                wa[i] = widest
                lo_a, hi_a = lo, hi
            else:
                wb[i] = widest
                lo_b, hi_b = lo, hi
        edge_lo[i] = lo_a <= 0 or lo_b <= 0
        top[i] = max(hi_a, hi_b)  # the caller checks the last pixel, knowing the line length
    return pd.DataFrame({"t1": t1, "x_min_a": xa, "d": d, "v": v, "scale_a": sa, "scale_b": sb, "wa": wa, "wb": wb,
                         "edge_lo": edge_lo, "hi": top, "first_b": first_b, "x_min_b": xb})


def paired_share(wa_mm, wb_mm, g, n=48):
    """Share of the field (uniform in the pixel offsets of both cameras) in which a particle of
    shadow widths wa_mm, wb_mm lies wholly inside both lines and passes the width test."""
    c = g["c"]
    u = (np.arange(n) + 0.5) / n * 2 * c - c  # offsets from the line centres, pixels
    s_a = g["xs1"] * (g["l1"] + g["xs2"] * u) / g["l1"]  # pixel width of A, by B offset
    s_b = g["xs2"] * (g["l2"] - g["xs1"] * u) / g["l2"]  # pixel width of B, by A offset
    la = wa_mm / s_a  # shadow width in A pixels along B's offsets
    lb = wb_mm / s_b  # in B pixels along A's offsets
    # Width in pixels: floor(L) or floor(L) + 1 with probability frac(L).
    fa, ra = np.floor(la), la - np.floor(la)
    fb, rb = np.floor(lb), lb - np.floor(lb)
    share = 0.0
    for da, pa_w in ((0, 1 - ra), (1, ra)):
        for db, pb_w in ((0, 1 - rb), (1, rb)):
            # rows: B offset (index of la), columns: A offset (index of lb)
            ok = ~width_test_fails((fa + da)[:, None], (fb + db)[None, :])
            share_grid = pa_w[:, None] * pb_w[None, :] * ok
            share = share + share_grid
    # Wholly inside: the centre at least half the shadow plus one pixel from each end.
    inside_a = np.abs(u)[None, :] < c - 0.5 - la[:, None] / 2  # A offset against the line of A
    inside_b = np.abs(u)[:, None] < c - 0.5 - lb[None, :] / 2
    return float(np.mean(share * inside_a * inside_b))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("day")
    p.add_argument("--hydinfo", default="build/hydinfo")
    p.add_argument("--base", default="V26150_1")
    p.add_argument("--products", help="products file with the geometry (default DAY/products10.nc)")
    a = p.parse_args()
    # The geometry of the first main header, as rainprod wrote it.
    import xarray as xr
    attrs = xr.open_dataset(a.products or "%s/products10.nc" % a.day, decode_times=False).attrs
    a.centre_pix = int(attrs["pixels_per_line"]) // 2
    a.xs1 = float(attrs["pixel_width_a_mm"])
    a.xs2 = float(attrs["pixel_width_b_mm"])
    a.l1 = float(attrs["camera_distance_a_mm"])
    a.l2 = float(attrs["camera_distance_b_mm"])
    g = {"c": a.centre_pix, "xs1": a.xs1, "xs2": a.xs2, "l1": a.l1, "l2": a.l2}
    c = a.centre_pix
    pixels = 2 * c
    wa_field = pixels * a.xs1
    wb_field = pixels * a.xs2

    cols = ["kind", "t_a", "first_a", "x_min_a", "first_b", "x_min_b", "width_a", "width_b", "diam_mm", "speed_m_s", "ca_px", "cb_px",
            "merged", "edge", "cut"]
    t = pd.read_csv("%s/truth.csv" % a.day, usecols=cols)
    t = t[t.kind == "drop"]
    t = t[(t.ca_px.abs() < c) & (t.cb_px.abs() < c)].copy()
    r = read_records(a.hydinfo, "%s/%s" % (a.day, a.base))
    r["edge"] = r.edge_lo | (r.hi >= pixels)
    keys = pd.MultiIndex.from_arrays([r.t1, r.x_min_a])
    tk = pd.MultiIndex.from_arrays([t.first_a, t.x_min_a])
    t["found"] = tk.isin(keys)
    width_fail = width_test_fails(t.width_a, t.width_b)
    b_taken = pd.MultiIndex.from_arrays([t.first_b, t.x_min_b]).isin(pd.MultiIndex.from_arrays([r.first_b, r.x_min_b]))
    t["reason"] = np.select(
        [t.found, t.merged == 1, t.cut == 1, t.edge == 1, width_fail, b_taken],
        ["record", "merged", "block cut", "field edge", "width test", "B piece taken"], "other")

    n = len(t)
    print("## %s: %d drops centred in the field, %d particle records" % (a.day, n, len(r)))
    print()
    print("| what became of the drop | drops | share | share of the water |")
    print("|---|---|---|---|")
    vol = t.diam_mm ** 3
    for reason in ["record", "width test", "B piece taken", "field edge", "merged", "block cut", "other"]:
        m = t.reason == reason
        print("| %s | %d | %.2f %% | %.2f %% |" % (reason, m.sum(), 100 * m.mean(), 100 * vol[m].sum() / vol.sum()))
    print()
    # Of the drops whose widths pass the test and that are neither merged nor cut nor at an edge:
    clean = (~width_fail) & (t.merged == 0) & (t.cut == 0) & (t.edge == 0)
    print("drops that are whole, alone and pass the width test: %d, of which without a record: %d" % (
        clean.sum(), (clean & ~t.found).sum()))
    print("drops the width test refuses: %d, of which with a record all the same: %d" % (
        width_fail.sum(), (width_fail & t.found).sum()))
    # A record found for a drop may pair its A piece with the B piece of another particle: then its
    # speed and size are wrong.
    j = t[t.found].merge(r, left_on=["first_a", "x_min_a"], right_on=["t1", "x_min_a"], how="left")
    wrong = ((j.v / j.speed_m_s - 1).abs() > 0.1) | ((j.d / j.diam_mm - 1).abs() > 0.2)
    jw = width_test_fails(j.width_a, j.width_b)
    print("records whose speed (10 %%) or size (20 %%) is off the drop's: %d of %d; of the drops the width test "
          "refuses: %d of %d" % (wrong.sum(), len(j), (wrong & jw).sum(), jw.sum()))
    jt = 9.65 - 10.3 * np.exp(-0.6 * j.d)
    kept = (j.d >= 0.1) & (j.d <= 10) & ((j.v - jt).abs() <= 0.5 * jt)
    print("the speed and size filter keeps %d of the %d right records (%.2f %%) and %d of the %d wrong ones "
          "(%.1f %%)" % ((kept & ~wrong).sum(), (~wrong).sum(), 100 * (kept & ~wrong).sum() / max(1, (~wrong).sum()),
                         (kept & wrong).sum(), wrong.sum(), 100 * (kept & wrong).sum() / max(1, wrong.sum())))
    print()

    edges = np.arange(0, 5.5, 0.5)
    t["cls"] = pd.cut(t.diam_mm, list(edges) + [100], right=False)
    print("| D (mm) | drops | lost | width test | B piece taken | field edge | merged | other |")
    print("|---|---|---|---|---|---|---|---|")
    for cls, grp in t.groupby("cls", observed=True):
        if len(grp) < 20:
            continue
        k = len(grp)
        print("| %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% |" % (
            "%.1f-%s" % (cls.left, "%.1f" % cls.right if cls.right < 100 else ""), k,
            100 * (~grp.found).mean(), 100 * (grp.reason == "width test").sum() / k,
            100 * (grp.reason == "B piece taken").sum() / k,
            100 * (grp.reason == "field edge").sum() / k, 100 * (grp.reason == "merged").sum() / k,
            100 * (grp.reason == "other").sum() / k))
    print()
    print("Lost drops (per cent) by quarter of the field: columns along camera A's line, rows along B's")
    print()
    print("|  | A 1st | A 2nd | A 3rd | A 4th |")
    print("|---|---|---|---|---|")
    qa = np.clip(((t.ca_px + c) / (pixels / 4)).astype(int), 0, 3)
    qb = np.clip(((t.cb_px + c) / (pixels / 4)).astype(int), 0, 3)
    for j in range(4):
        row = []
        for i in range(4):
            m = (qa == i) & (qb == j)
            row.append("%.1f" % (100 * (~t.found[m]).mean()) if m.any() else "-")
        print("| B %s | %s |" % (["1st", "2nd", "3rd", "4th"][j], " | ".join(row)))
    print()

    # The rain products' filter on the records, and the area rules.
    vt = 9.65 - 10.3 * np.exp(-0.6 * r.d)
    used = r[(~r.edge) & (r.d >= 0.1) & (r.d <= 10) & ((r.v - vt).abs() <= 0.5 * vt)].copy()
    wa_mm = used.wa * used.scale_a
    wb_mm = used.wb * used.scale_b
    areas = {
        "field": np.full(len(used), wa_field * wb_field),
        "diameter": (wa_field - used.d) * (wb_field - used.d),
        "shadow": (wa_field - a.xs1 - wa_mm) * (wb_field - a.xs2 - wb_mm),
    }
    # The paired share depends on the widths only: tabulate it on a 0.05 mm grid of both.
    # A drop's horizontal section is round: both cameras see the same width, measured twice.
    step = 0.05
    kw = np.round((wa_mm + wb_mm) / 2 / step).astype(int)
    cache = {}
    share = np.zeros(len(used))
    for i, x in enumerate(kw):
        if x not in cache:
            cache[x] = paired_share(x * step, x * step, g)
        share[i] = cache[x]
    print("records with a paired share below 0.2: %d of %d" % ((share < 0.2).sum(), len(share)))
    areas["paired"] = wa_field * wb_field * share
    t_vol = (t.diam_mm ** 3).sum()
    print("Drops and volume of the records the products use, weighted by field area / effective area,")
    print("against the drops centred in the field (per cent difference):")
    print()
    print("| area rule | drops | volume (rain amount) | D 0.2-1 | D 1-2 | D 2-3 | D 3-5 |")
    print("|---|---|---|---|---|---|---|")
    for name, area in areas.items():
        wgt = wa_field * wb_field / area
        row = ["%+.1f %%" % (100 * (wgt.sum() / n - 1)), "%+.1f %%" % (100 * ((wgt * used.d ** 3).sum() / t_vol - 1))]
        for lo, hi in ((0.2, 1), (1, 2), (2, 3), (3, 5)):
            m = (used.d >= lo) & (used.d < hi)
            tm = (t.diam_mm >= lo) & (t.diam_mm < hi)
            row.append("%+.1f %%" % (100 * (wgt[m].sum() / tm.sum() - 1)) if tm.sum() >= 50 else "-")
        print("| %s | %s |" % (name, " | ".join(row)))
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
