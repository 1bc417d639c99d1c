#!/usr/bin/python3
"""Plots of the rain products of a day (or a span of days), read from the NetCDF file of rainprod.

    /usr/bin/python3 scripts/plot_day.py scratch/sample/products.nc --out scratch/sample

writes three PNG files into the output folder:
  <name>_vd.png    fall speed against diameter: 2-D histogram of the particles (edge-cut ones left
                   out) with the terminal speed curve and the band the filter accepts;
  <name>_nd.png    the drop size distribution N(D) against time as a colour map (log scale);
  <name>_rain.png  rain rate and accumulated rain amount against time.
<name> is the NetCDF file's name without its extension. The script also shows how to read the
products in Python: xarray opens the file and decodes its time axis to dates.
"""
import argparse
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.colors as colors  # noqa: E402
import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import xarray as xr  # noqa: E402


def terminal_speed(d_mm):
    """Exponential fall-speed fit v = 9.65 - 10.3 exp(-0.6 D), D in mm, v in m/s."""
    return 9.65 - 10.3 * np.exp(-0.6 * d_mm)


def rainy_span(ds):
    """The time bounds around the intervals with particles, a little widened; all when none."""
    seen = np.nonzero(ds["particles"].values > 0)[0]
    if seen.size == 0:
        return 0, ds.sizes["time"]
    pad = max(2, (seen[-1] - seen[0]) // 10)
    return max(0, seen[0] - pad), min(ds.sizes["time"], seen[-1] + pad + 1)


def plot_vd(ds, path):
    d_edges = np.append(ds["diameter_bnds"].values[:, 0], ds["diameter_bnds"].values[-1, 1])
    v_edges = np.append(ds["speed_bnds"].values[:, 0], ds["speed_bnds"].values[-1, 1])
    counts = ds["speed_diameter_histogram"].values.astype(float)
    fig, ax = plt.subplots(figsize=(8, 6), dpi=120)
    shown = np.ma.masked_less_equal(counts, 0)
    if shown.count() > 0:
        mesh = ax.pcolormesh(d_edges, v_edges, shown, norm=colors.LogNorm(vmin=1, vmax=max(1, counts.max())),
                             cmap="viridis", shading="flat")
        fig.colorbar(mesh, ax=ax, label="particles per class")
    d = np.linspace(0.11, d_edges[-1], 300)
    vt = terminal_speed(d)
    tol = float(ds.attrs.get("filter_speed_tolerance", 0.5))
    ax.plot(d, vt, color="red", lw=2, label="terminal speed 9.65 - 10.3 exp(-0.6 D)")
    ax.plot(d, vt * (1 - tol), color="red", lw=1, ls="--", label="accepted band (±%g %%)" % (100 * tol))
    ax.plot(d, vt * (1 + tol), color="red", lw=1, ls="--")
    top = d_edges[-1]
    used = counts.sum(axis=0)
    if used.sum() > 0:
        top = min(d_edges[-1], d_edges[np.nonzero(used)[0][-1] + 1] + 1.0)
    ax.set_xlim(0, top)
    ax.set_ylim(0, v_edges[-1])
    ax.set_xlabel("equivalent diameter D (mm)")
    ax.set_ylabel("fall speed v (m s$^{-1}$)")
    ax.set_title("Fall speed against diameter, %d particles" % int(counts.sum()))
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def plot_nd(ds, path):
    lo, hi = rainy_span(ds)
    part = ds.isel(time=slice(lo, hi))
    t = part["time_bnds"].values
    t_edges = np.append(t[:, 0], t[-1, 1])
    d_edges = np.append(ds["diameter_bnds"].values[:, 0], ds["diameter_bnds"].values[-1, 1])
    nd = part["number_size_distribution"].values.T
    fig, ax = plt.subplots(figsize=(10, 5), dpi=120)
    shown = np.ma.masked_where(~(nd > 0), nd)  # no drops, or no data (NaN)
    if shown.count() > 0:
        mesh = ax.pcolormesh(mdates.date2num(t_edges), d_edges, shown,
                             norm=colors.LogNorm(vmin=max(shown.min(), 1e-3), vmax=shown.max()),
                             cmap="turbo", shading="flat")
        fig.colorbar(mesh, ax=ax, label="N(D) (m$^{-3}$ mm$^{-1}$)")
        filled = np.nonzero((nd > 0).any(axis=1))[0]
        ax.set_ylim(0, min(d_edges[-1], d_edges[filled[-1] + 1] + 0.5))
    ax.xaxis_date()
    ax.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
    ax.set_xlabel("time (UTC), %s" % str(t_edges[0])[:10])
    ax.set_ylabel("equivalent diameter D (mm)")
    ax.set_title("Drop size distribution per %g s" % float(ds.attrs.get("interval_s", 60)))
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def plot_rain(ds, path):
    lo, hi = rainy_span(ds)
    part = ds.isel(time=slice(lo, hi))
    t = part["time_bnds"].values
    fig, ax = plt.subplots(figsize=(10, 5), dpi=120)
    r = part["rainfall_rate"].values
    # Steps over each interval up to its end; intervals without data (NaN) stay blank and are
    # shaded grey, so that no data never reads as no rain.
    edges = mdates.date2num(np.append(t[:, 0], t[-1, 1]))
    ax.stairs(r, edges, color="tab:blue", label="rain rate", baseline=None)
    if "rainfall_rate_standard_error" in part:
        se = part["rainfall_rate_standard_error"].values
        ax.stairs(r + se, edges, baseline=r - se, fill=True, color="tab:blue", alpha=0.25,
                  label="± counting error")
    if "measured_fraction" in part:
        for k in np.flatnonzero(part["measured_fraction"].values == 0):
            ax.axvspan(edges[k], edges[k + 1], color="0.85", lw=0)
    ax.set_ylabel("rain rate R (mm h$^{-1}$)", color="tab:blue")
    ax.set_ylim(bottom=0)
    ax2 = ax.twinx()
    ax2.plot(edges[1:], part["accumulated_rainfall_amount"].values, color="tab:red", label="accumulated amount")
    ax2.set_ylabel("accumulated rain amount (mm)", color="tab:red")
    ax2.set_ylim(bottom=0)
    ax.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
    ax.set_xlabel("time (UTC), %s" % str(t[0, 0])[:10])
    ax.set_title("Rain rate per %g s and rain amount: %.3f mm" % (float(ds.attrs.get("interval_s", 60)),
                                                                 float(ds.attrs.get("rainfall_amount_mm", 0))))
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("netcdf", help="products file written by rainprod --nc")
    p.add_argument("--out", default=None, help="folder of the PNG files (default: the NetCDF file's folder)")
    a = p.parse_args()
    try:
        ds = xr.open_dataset(a.netcdf)
    except (OSError, ValueError) as e:
        print("plot_day: cannot read %s: %s" % (a.netcdf, e), file=sys.stderr)
        return 1
    out = a.out if a.out is not None else (os.path.dirname(a.netcdf) or ".")
    os.makedirs(out, exist_ok=True)
    name = os.path.splitext(os.path.basename(a.netcdf))[0]
    for suffix, plot in (("vd", plot_vd), ("nd", plot_nd), ("rain", plot_rain)):
        path = os.path.join(out, "%s_%s.png" % (name, suffix))
        plot(ds, path)
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
