#!/bin/sh
# Draws docs/water-month.png: a month of a timed deployment (900 s) in
# water with the built-in tide and daily cycles, on a 0.15 Ah battery, as
# varve-host plot shows the data file.  Usage: scripts/water-month-plot.sh
# [BUILD_DIR] (default build/host; varve-sim and varve-host must be built).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
sim=$build/bin/varve-sim
host=$build/bin/varve-host
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
board=$work/board
"$sim" board --board "$board" --start "2026-03-01 00:00:00" set sampling_period=900 \
    'data_cfg[CFG_CALC_PH_VRSE]=1' >/dev/null 2>&1
printf '1 2\\r\n1 water month\\r\n' >"$work/start.txt"
"$sim" --board "$board" --input "$work/start.txt" --until 30d --transcript /dev/null \
    --water tide --water diurnal --battery 0.15 --seed 7 --stats "$work/stats.json" 2>/dev/null
"$sim" card --board "$board" get noname.txt "$work/data.txt"
"$host" plot "$work/data.txt" "$root/docs/water-month.png" --size 1200x900
echo "docs/water-month.png: $(grep -c '^#' "$work/data.txt") records"
