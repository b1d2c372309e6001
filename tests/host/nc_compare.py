"""Compares a netCDF file written by varve-host nc with the CSV of the same
data: every cell, to the precision printed in the CSV.  Prints one line per
mismatch and "compared N values" at the end; exit status 1 on a mismatch."""
import csv
import datetime
import re
import sys

import netCDF4

nc_path, csv_path = sys.argv[1], sys.argv[2]
with open(csv_path, newline="") as f:
    rows = [r for r in csv.reader(line for line in f if not line.startswith("# "))]
names, rows = rows[0], rows[1:]
ds = netCDF4.Dataset(nc_path)
ds.set_auto_mask(True)
bad = 0
compared = 0


def fail(msg):
    global bad
    bad += 1
    if bad <= 20:
        print(msg)


if len(ds.dimensions["time"]) != len(rows):
    fail(f"{len(ds.dimensions['time'])} times, {len(rows)} CSV rows")
status = {}
for name in ("optode_status", "ctd_status"):
    if name in ds.variables:
        status[name] = ds.variables[name][:]
for i, name in enumerate(names):
    if name == "Time":
        times = ds.variables["time"][:]
        for r, row in enumerate(rows):
            want = datetime.datetime.fromisoformat(row[i].replace("Z", "+00:00")).timestamp()
            compared += 1
            if abs(times[r] - want) > 0.0005:
                fail(f"time row {r}: {times[r]} != {row[i]}")
        continue
    var = re.sub(r"[^A-Za-z0-9]+", "_", name).strip("_")
    if var not in ds.variables:
        if any(row[i] for row in rows):
            fail(f"no variable for column {name}")
        continue
    values = ds.variables[var][:]
    for r, row in enumerate(rows):
        cell = row[i]
        v = values[r]
        compared += 1
        masked = v is None or v is netCDF4.default_fillvals or (hasattr(v, "mask") and bool(v.mask))
        if cell == "":
            if not (masked or v == ""):
                fail(f"{name} row {r}: empty in the CSV, {v!r} in netCDF")
            continue
        try:
            x = float(cell)
        except ValueError:
            # An instrument's error text: fill value and the status text.
            if isinstance(v, str):
                ok = v == cell
            else:
                ok = masked and any(s[r] == cell for s in status.values())
            if not ok:
                fail(f"{name} row {r}: {cell!r} vs {v!r}")
            continue
        decimals = len(cell.split(".")[1]) if "." in cell else 0
        if masked or abs(float(v) - x) > 0.5 * 10**-decimals + 1e-12:
            fail(f"{name} row {r}: {cell} vs {v!r}")
print(f"compared {compared} values, {bad} mismatches")
sys.exit(1 if bad else 0)
