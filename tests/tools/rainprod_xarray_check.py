"""Reads a rain products NetCDF file with xarray and compares it with the CSV table of the same run.

usage: rainprod_xarray_check.py FILE.nc FILE.csv
Prints one line per disagreement and exits with status 1 if there is any, 0 otherwise.
"""
import csv
import math
import sys

import numpy as np
import xarray as xr


def close(a, b, rel=1e-5):
    if a is None or b is None:
        return a is None and b is None
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return abs(a - b) <= rel * max(abs(a), abs(b)) + 1e-12


def main():
    nc_path, csv_path = sys.argv[1], sys.argv[2]
    faults = []
    ds = xr.open_dataset(nc_path)
    with open(csv_path, newline="") as f:
        rows = list(csv.DictReader(f))

    def col(row, name):
        v = row[name]
        return float(v) if v != "" else float("nan")

    if ds.attrs.get("Conventions") != "CF-1.8":
        faults.append("Conventions is %r" % ds.attrs.get("Conventions"))
    if ds.sizes["time"] != len(rows):
        faults.append("%d times in the file, %d rows in the table" % (ds.sizes["time"], len(rows)))
    # The time axis decodes to dates: the first interval's bounds are the first row's time.
    first = np.datetime64(rows[0]["time"].rstrip("Z"))
    if ds["time_bnds"].values[0][0] != first:
        faults.append("first time bound %s, table %s" % (ds["time_bnds"].values[0][0], first))
    if ds["rainfall_rate"].attrs.get("standard_name") != "rainfall_rate":
        faults.append("rainfall_rate has no standard name")
    pairs = {
        "rainfall_rate": "r_mm_h",
        "number_concentration": "nt_m-3",
        "liquid_water_content": "w_g_m-3",
        "reflectivity_factor": "z_mm6_m-3",
        "equivalent_reflectivity_factor": "dbz",
        "mass_weighted_mean_diameter": "dm_mm",
        "median_volume_diameter": "d0_mm",
        "normalized_intercept": "nw_m-3_mm-1",
        "rainfall_amount": "amount_mm",
        "accumulated_rainfall_amount": "accumulated_mm",
        "used": "used",
        "edge_cut": "edge",
    }
    for var, name in pairs.items():
        values = ds[var].values
        for i, row in enumerate(rows):
            if not close(float(values[i]), col(row, name)):
                faults.append("%s[%d] = %r, table %s" % (var, i, float(values[i]), row[name]))
                break
    nd = ds["number_size_distribution"].values
    lower = ds["diameter_bnds"].values[:, 0]
    upper = ds["diameter_bnds"].values[:, 1]
    for j in range(ds.sizes["diameter"]):
        name = "nd_%g_%g" % (lower[j], upper[j])
        if name not in rows[0]:
            faults.append("no column %s" % name)
            break
        for i, row in enumerate(rows):
            if not close(float(nd[i, j]), col(row, name)):
                faults.append("N(D)[%d, %d] = %r, table %s" % (i, j, float(nd[i, j]), row[name]))
                break
    rain = float(ds["rainfall_amount"].sum())
    if not close(rain, ds.attrs["rainfall_amount_mm"], 1e-9):
        faults.append("amount %r, attribute %r" % (rain, ds.attrs["rainfall_amount_mm"]))
    for fault in faults:
        print(fault)
    print("checked %d intervals, %d diameter classes, rain amount %.4f mm" % (len(rows), ds.sizes["diameter"], rain))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
