#!/usr/bin/env bash
# Year benchmark: a timed deployment of DAYS simulated days (default 365) at
# a 600 s period on a new simulated board, with the default data fields, and
# the same with a CTD (SBE37) and an optode attached and their fields on.
#
#   scripts/bench-year.sh [--days N] [--sim PATH] [--against PATH [--against-days M]]
#                         [--only default|instruments] [--keep DIR]
#
# For each board: `varve-sim board set` makes it (period 600 s, not aligned,
# data file DATA.TXT; with instruments also data_cfg[CFG_CTD] and
# data_cfg[CFG_OPTODE] on), `varve-sim --board B --input S --until Nd
# --stats F` runs the deployment (S: main menu "2", a deployment note), and
# the data file must hold N x 144 records numbered from 0.
#
# --against OLD runs the same boards for M days (default 3) with both
# simulators, checks that the transcript, the card image, the EEPROM, the
# FRAM, the hibernation state and every statistic but host_s are byte for
# byte the same, and reports the host time per sample wake of each.
#
# Figures: host time (wall clock) and processor time (user + system, every
# boot process included) of each run, and both per sample wake; goals for a
# year: default fields <= 60 s, with the instruments <= 120 s.  Never a
# failure on a figure (no timed checks).
#
# Exit status: 0 when every check holds, 1 otherwise, 2 usage.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
days=365
sim="$root/build/host/bin/varve-sim"
against=""
against_days=3
only=""
keep=""
while [ $# -gt 0 ]; do
    case "$1" in
    --days) days=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --against) against=$2; shift 2 ;;
    --against-days) against_days=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -h | --help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-year: unknown argument $1" >&2; exit 2 ;;
    esac
done
for n in "$days" "$against_days"; do
    case "$n" in '' | *[!0-9]* | 0) echo "bench-year: days need a whole number > 0" >&2; exit 2 ;; esac
done
case "$only" in '' | default | instruments) ;; *) echo "bench-year: --only default|instruments" >&2; exit 2 ;; esac
[ -x "$sim" ] || { echo "bench-year: no simulator at $sim (cmake --build --preset host)" >&2; exit 2; }
[ -z "$against" ] || [ -x "$against" ] || { echo "bench-year: no simulator at $against" >&2; exit 2; }

if [ -n "$keep" ]; then
    dir=$keep
    rm -rf "$dir"
    mkdir -p "$dir"
else
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
fi
printf '1 2\\r\n1 year benchmark\\r\n' > "$dir/start.txt"
failures=0

# run NAME SIM DAYS KIND: one deployment on a new board; prints
# "wall cpu samples".
run() {
    local name=$1 s=$2 n=$3 kind=$4 b="$dir/$1"
    local set_extra=() run_extra=()
    if [ "$kind" = instruments ]; then
        set_extra=('data_cfg[CFG_CTD]=1' 'data_cfg[CFG_OPTODE]=1')
        run_extra=(--ctd sbe37 --optode-port optode)
    fi
    "$s" board --board "$b" --start "2026-03-01 00:00:00" \
        set sampling_period=600 sample_aligned=0 fileName=DATA.TXT "${set_extra[@]}" >/dev/null 2>"$dir/$name.err" ||
        { echo "bench-year: board set failed ($name)" >&2; cat "$dir/$name.err" >&2; exit 1; }
    local t0 t1
    t0=$(date +%s.%N)
    TIMEFORMAT='%3U %3S'
    { time "$s" --board "$b" --input "$dir/start.txt" --until "${n}d" --stats "$dir/$name.json" \
        --transcript "$dir/$name.txt" "${run_extra[@]}" 2>"$dir/$name.err"; } 2>"$dir/$name.cpu" ||
        { echo "bench-year: run failed ($name)" >&2; tail -n 20 "$dir/$name.err" >&2; exit 1; }
    t1=$(date +%s.%N)
    local records
    records=$("$s" card --board "$b" get DATA.TXT - 2>/dev/null | grep -c '^#' || true)
    /usr/bin/python3 - "$dir/$name.json" "$dir/$name.cpu" "$t0" "$t1" "$records" "$n" "$name" <<'EOF'
import json, sys
stats, cpu_file, t0, t1, records, n, name = sys.argv[1:]
s = json.load(open(stats))
cpu = sum(float(x) for x in open(cpu_file).read().split())
wall = float(t1) - float(t0)
wakes = max(s["boots"]["rtc"], 1)
want = int(n) * 144
ok = int(records) == want and s["samples"] == want
print(f"{name:<24} {int(n):>4} d {s['samples']:>6} samples  wall {wall:8.1f} s ({1000 * wall / wakes:6.3f} ms/wake)"
      f"  cpu {cpu:8.1f} s ({1000 * cpu / wakes:6.3f} ms/wake)  awake/sample {s['awake_s']['per_boot_mean']:.4f} s"
      + ("" if ok else f"  FAILED: {records} records, {s['samples']} samples, want {want}"))
sys.exit(0 if ok else 1)
EOF
}

# same A B: the two boards and their outputs are byte for byte the same.
same() {
    local a="$dir/$1" b="$dir/$2" ok=1 f
    for f in card.img eeprom.bin fram.bin; do
        cmp -s "$a/$f" "$b/$f" || { echo "FAILED  $f differs ($1 / $2)"; ok=0; }
    done
    # (hibernate.txt: the same fields and values; its padding may differ.)
    cmp -s <(sed 's/ *$//; /^$/d' "$a/hibernate.txt") <(sed 's/ *$//; /^$/d' "$b/hibernate.txt") ||
        { echo "FAILED  hibernation state differs ($1 / $2)"; ok=0; }
    cmp -s "$dir/$1.txt" "$dir/$2.txt" || { echo "FAILED  transcript differs ($1 / $2)"; ok=0; }
    cmp -s <(grep -v '"host_s"' "$dir/$1.json") <(grep -v '"host_s"' "$dir/$2.json") ||
        { echo "FAILED  statistics differ ($1 / $2)"; ok=0; }
    [ $ok = 1 ] && echo "ok      $1 and $2: transcript, card, EEPROM, FRAM, hibernation state and statistics identical"
    [ $ok = 1 ]
}

for kind in default instruments; do
    [ -z "$only" ] || [ "$only" = "$kind" ] || continue
    if [ -n "$against" ]; then
        run "$kind-old-${against_days}d" "$against" "$against_days" $kind || failures=$((failures + 1))
        run "$kind-new-${against_days}d" "$sim" "$against_days" $kind || failures=$((failures + 1))
        same "$kind-old-${against_days}d" "$kind-new-${against_days}d" || failures=$((failures + 1))
    fi
    run "$kind-${days}d" "$sim" "$days" $kind || failures=$((failures + 1))
done
if [ $failures -ne 0 ]; then
    echo "bench-year: $failures check(s) failed (--keep DIR keeps the run's files)" >&2
    exit 1
fi
