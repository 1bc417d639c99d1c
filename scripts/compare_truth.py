#!/usr/bin/python3
"""Compares the rain products of a simulated day with the simulator's truth.

    /usr/bin/python3 scripts/compare_truth.py TRUTH.csv PRODUCTS.nc [--label NAME]

TRUTH.csv is the truth table of rainsim (one row per particle), PRODUCTS.nc the file of
rainprod --nc made from the converted day, with intervals of any length (10 minutes for the
figures of docs/rain_products.md). The truth over the field is every drop (not clutter) whose centre
lies inside both camera lines (|ca|, |cb| < centre_pix), counted in the interval in which its
centre crosses camera A's plane; the field's area is the product of the two field widths of the
file's attributes; N_t counts the drops from the file's diameter_min_mm on. Per interval with at least `--min-drops` true drops it prints the rain rate,
reflectivity and D_m, measured and true, and at the end the day's rain amount and the drop size
distribution per class with at least 100 true drops against its counting error N / sqrt(n).
Rates are taken over the measured seconds of each interval (measured_fraction); intervals the
file marks as not measured are left out and must hold no value.

With --check the exit status is 1 when a target is missed: the amount within 3 %, R within 5 %,
Z within 0.5 dB, D_m within 3 % and N_t within 5 % in every interval with --min-drops true drops,
every N(D) class with at least 100 true drops within 2 counting errors or within --nd-rel of the
truth, and no value in an interval that was not measured.
"""
import argparse
import csv
import math
import sys

import numpy as np
import xarray as xr


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("truth")
    p.add_argument("products")
    p.add_argument("--label", default="")
    p.add_argument("--min-drops", type=int, default=200)
    p.add_argument("--check", action="store_true", help="exit with 1 when a target is missed")
    p.add_argument("--nd-rel", type=float, default=0.0, help="relative N(D) deviation a class may have")
    a = p.parse_args()

    ds = xr.open_dataset(a.products, decode_times=False)
    c = int(ds.attrs["pixels_per_line"]) // 2
    area = ds.attrs["field_width_a_mm"] * ds.attrs["field_width_b_mm"] * 1e-6
    tb = ds["time_bnds"].values  # seconds since the first midnight
    frac = ds["measured_fraction"].values if "measured_fraction" in ds else np.ones(len(tb))
    dt = (tb[:, 1] - tb[:, 0]) * frac
    measured = frac > 0
    dt = np.where(measured, dt, np.nan)
    d_lo = ds["diameter_bnds"].values[:, 0]
    d_hi = ds["diameter_bnds"].values[:, 1]
    d_min = float(ds.attrs.get("diameter_min_mm", 0.0))  # N_t counts drops from here on
    nt, nb = len(tb), len(d_lo)
    width = d_hi - d_lo

    vol = np.zeros(nt)
    m3 = np.zeros(nt)
    m4 = np.zeros(nt)
    m6 = np.zeros(nt)
    m0 = np.zeros(nt)
    count = np.zeros(nt, dtype=int)
    nd = np.zeros((nt, nb))
    nd_n = np.zeros((nt, nb), dtype=int)
    with open(a.truth, newline="") as f:
        for r in csv.DictReader(f):
            if r["kind"] != "drop":
                continue
            if abs(float(r["ca_px"])) >= c or abs(float(r["cb_px"])) >= c:
                continue
            t = float(r["t_a"])
            k = int(np.searchsorted(tb[:, 1], t, side="right"))
            if k >= nt or t < tb[k, 0] or not measured[k]:
                continue
            d = float(r["diam_mm"])
            v = float(r["speed_m_s"])
            w = 1.0 / (area * v * dt[k])
            vol[k] += d ** 3 / (area * dt[k])
            if d >= d_min:
                m0[k] += w
            m3[k] += d ** 3 * w
            m4[k] += d ** 4 * w
            m6[k] += d ** 6 * w
            count[k] += 1
            i = int(np.searchsorted(d_hi, d, side="right"))
            if i < nb and d >= d_lo[i]:
                nd[k, i] += w / width[i]
                nd_n[k, i] += 1
    r_true = 6 * math.pi * 1e-4 * vol
    r_meas = ds["rainfall_rate"].values
    z_meas = ds["equivalent_reflectivity_factor"].values
    dm_meas = ds["mass_weighted_mean_diameter"].values
    nt_meas = ds["number_concentration"].values
    amount_true = float(np.nansum(r_true * dt / 3600))
    bad = [k for k in range(nt) if not measured[k] and np.isfinite(r_meas[k])]
    print("intervals not measured: %d, of them with a value: %d" % (int((~measured).sum()), len(bad)))
    amount_meas = float(ds.attrs["rainfall_amount_mm"])

    print("## %s" % (a.label or a.products))
    print()
    print("| interval (UTC) | true drops | used | edge | R true | R meas | dR | Z true dBZ | dZ dB | Dm true | dDm | dNt |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    worst = {"R": 0.0, "Z": 0.0, "Dm": 0.0, "Nt": 0.0}
    for k in range(nt):
        if count[k] < a.min_drops:
            continue
        z_true = 10 * math.log10(m6[k])
        dm_true = m4[k] / m3[k]
        dr = r_meas[k] / r_true[k] - 1
        dz = z_meas[k] - z_true
        ddm = dm_meas[k] / dm_true - 1
        dnt = nt_meas[k] / m0[k] - 1
        for key, val in (("R", dr), ("Z", dz), ("Dm", ddm), ("Nt", dnt)):
            if abs(val) > abs(worst[key]):
                worst[key] = val
        start = tb[k, 0] % 86400
        print("| %02d:%02d | %d | %d | %d | %.3f | %.3f | %+.1f %% | %.2f | %+.2f | %.3f | %+.1f %% | %+.1f %% |" % (
            start // 3600, start % 3600 // 60, count[k], int(ds["used"].values[k]), int(ds["edge_cut"].values[k]),
            r_true[k], r_meas[k], 100 * dr, z_true, dz, dm_true, 100 * ddm, 100 * dnt))
    print()
    print("rain amount: true %.4f mm, measured %.4f mm, %+.2f %%" % (
        amount_true, amount_meas, 100 * (amount_meas / amount_true - 1) if amount_true > 0 else float("nan")))
    print("largest deviation per interval: R %+.1f %%, Z %+.2f dB, Dm %+.1f %%, Nt %+.1f %%" % (
        100 * worst["R"], worst["Z"], 100 * worst["Dm"], 100 * worst["Nt"]))
    # N(D) per class over the whole file, where the truth has at least 100 drops.
    nd_meas = ds["number_size_distribution"].values
    tot_true = np.nansum(nd * dt[:, None], axis=0) / np.nansum(dt)
    tot_meas = np.nansum(nd_meas * dt[:, None], axis=0) / np.nansum(dt)
    n_true = nd_n.sum(axis=0)
    within1 = within2 = classes = nd_ok = 0
    lines = []
    for i in range(nb):
        if n_true[i] < 100:
            continue
        classes += 1
        sigma = tot_true[i] / math.sqrt(n_true[i])
        dev = (tot_meas[i] - tot_true[i]) / sigma
        within1 += abs(dev) <= 1
        within2 += abs(dev) <= 2
        nd_ok += abs(dev) <= 2 or abs(tot_meas[i] / tot_true[i] - 1) <= a.nd_rel
        lines.append("| %.1f-%.1f | %d | %.4g | %.4g | %+.1f %% | %+.2f |" % (
            d_lo[i], d_hi[i], n_true[i], tot_true[i], tot_meas[i], 100 * (tot_meas[i] / tot_true[i] - 1), dev))
    print("N(D) of the whole span, classes with at least 100 true drops: %d of %d within one counting error, "
          "%d within two" % (within1, classes, within2))
    print()
    print("| D (mm) | true drops | N true (m-3 mm-1) | N meas | dN | dN / counting error |")
    print("|---|---|---|---|---|---|")
    for line in lines:
        print(line)
    print()
    if not a.check:
        return 0
    missed = [name for name, ok in (
        ("not measured intervals with values", not bad),
        ("amount", amount_true > 0 and abs(amount_meas / amount_true - 1) <= 0.03),
        ("R", abs(worst["R"]) <= 0.05), ("Z", abs(worst["Z"]) <= 0.5), ("Dm", abs(worst["Dm"]) <= 0.03),
        ("Nt", abs(worst["Nt"]) <= 0.05), ("N(D)", nd_ok == classes)) if not ok]
    print("targets missed: " + (", ".join(missed) if missed else "none"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
