#!/usr/bin/env bash
# Month benchmark: a timed deployment of DAYS simulated days (default 30) at
# a 600 s period with the default data fields, on a new simulated board.
#
#   scripts/bench-month.sh [--days N] [--sim PATH] [--keep DIR]
#
# 1. `varve-sim board set` makes the board (period 600 s, not aligned, data
#    file DATA.TXT); `varve-sim --board B --input S --until 30d --stats F`
#    runs the deployment (S: main menu "2", a deployment note).
# 2. The data file is checked: copied off with `varve-sim card get`, read
#    with mtools (the same bytes), fsck.fat clean, exactly one metadata
#    block, one header and DAYS x 144 records numbered from 0; the stats
#    file parses and its sample count equals the records, one boot per
#    sample after the start.
# 3. Figures: host time, awake seconds per sample against the sum of the
#    sample's conversion times and fixed waits (computed from the stored
#    record, below), card sector reads and writes per record on the first
#    day and on the day after the last (one more day on a copy of the
#    board), EEPROM words programmed per wake.
#
# Exit status: 0 when every check of step 2 holds (the figures are
# reported against their goals, never a failure: no timed checks), 1
# otherwise, 2 usage.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
days=30
sim="$root/build/host/bin/varve-sim"
keep=""
while [ $# -gt 0 ]; do
    case "$1" in
    --days) days=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -h | --help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-month: unknown argument $1" >&2; exit 2 ;;
    esac
done
case "$days" in '' | *[!0-9]* | 0) echo "bench-month: --days needs a whole number > 0" >&2; exit 2 ;; esac
[ -x "$sim" ] || { echo "bench-month: no simulator at $sim (cmake --build --preset host)" >&2; exit 2; }

if [ -n "$keep" ]; then
    dir=$keep
    rm -rf "$dir"
    mkdir -p "$dir"
else
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
fi
board=$dir/board
period=600
# A step that fails ends the benchmark with what the simulator said.
step() {
    if ! "$@" 2>"$dir/step.err"; then
        echo "bench-month: failed: $*" >&2
        tail -n 20 "$dir/step.err" >&2
        exit 1
    fi
}

# The board: a 600 s period, not aligned, the default data fields, the card on.
step "$sim" board --board "$board" --start "2026-03-01 00:00:00" \
    set sampling_period=$period sample_aligned=0 fileName=DATA.TXT >/dev/null

# Start a timed deployment: "2" at the main menu, then the deployment note.
printf '1 2\\r\n1 month benchmark\\r\n' > "$dir/start.txt"
TIMEFORMAT='%3U %3S'
{ time step "$sim" --board "$board" --input "$dir/start.txt" --until "${days}d" --stats "$dir/stats.json" \
    --transcript "$dir/transcript.txt"; } 2>"$dir/cpu.txt"

# The data file, three ways.
step "$sim" card --board "$board" get DATA.TXT "$dir/DATA.TXT"
step mtype -i "$board/card.img@@1M" ::DATA.TXT > "$dir/DATA.mtools"
fsck_ok=1
"$sim" card --board "$board" fsck > "$dir/fsck.txt" 2>&1 || fsck_ok=0

# One more day on a copy of the board: the cost of a record at the end.
end_records=0
if [ "$days" -gt 1 ]; then
    cp -r "$board" "$dir/end"
    step "$sim" --board "$dir/end" --console none --until 1d --stats "$dir/stats-end.json" \
        --transcript /dev/null
    end_records=1
fi
# The first day alone on a new board: the cost of a record at the start.
if [ "$days" -gt 1 ]; then
    step "$sim" board --board "$dir/first" --start "2026-03-01 00:00:00" \
        set sampling_period=$period sample_aligned=0 fileName=DATA.TXT >/dev/null
    step "$sim" --board "$dir/first" --input "$dir/start.txt" --until 1d --stats "$dir/stats-first.json" \
        --transcript /dev/null
else
    cp "$dir/stats.json" "$dir/stats-first.json"
fi
step "$sim" board --board "$board" show > "$dir/records.txt"

python3 - "$dir" "$days" "$period" "$fsck_ok" "$end_records" <<'EOF'
import json, re, sys

d, days, period, fsck_ok, have_end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "1", sys.argv[5] == "1"
failures = []

def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what)
    if not ok:
        failures.append(what)

data = open(f"{d}/DATA.TXT", "rb").read()
check(data == open(f"{d}/DATA.mtools", "rb").read(), "mtools reads the same data file as varve-sim card get")
check(fsck_ok, "fsck.fat finds the card clean")
lines = data.decode("latin-1").split("\r\n")
meta_starts = [l for l in lines if l.startswith("//++")]
meta_ends = [l for l in lines if l.startswith("//--")]
records = [l for l in lines if l.startswith("#")]
headers = [l for l in lines if l and not l.startswith("//") and not l.startswith("#")]
expected = days * 86400 // period
check(len(meta_starts) == 1 and len(meta_ends) == 1, f"one metadata block (found {len(meta_starts)})")
check(len(headers) == 1, f"one header line (found {len(headers)})")
check(len(records) == expected, f"{expected} records (found {len(records)})")
numbers = [int(re.match(r"#(\d+)", r).group(1)) for r in records]
check(numbers == list(range(len(records))), "records numbered 0, 1, 2, ... without a gap")
columns = len(headers[0].split("\t")) if headers else -1
check(all(len(r.split("\t")) == columns for r in records), "every record has the header's columns")

stats = json.load(open(f"{d}/stats.json"))
check(stats["samples"] == len(records), f"stats: samples {stats['samples']} = records")
check(stats["boots"]["rtc"] == len(records), f"stats: one RTC wake per sample ({stats['boots']['rtc']})")
check(stats["boots"]["total"] == len(records) + 1, f"stats: the start, then one boot per sample ({stats['boots']['total']})")
check(abs(stats["simulated_s"] - days * 86400) < 1e-6, "stats: simulated seconds = the run's length")
check(stats["card_sector_writes"] > 0 and stats["eeprom_words_programmed"] >= 0, "stats: card and EEPROM counters present")

# Expected awake time of one sample wake: the converter's conversion time of
# each reading the record needs (trials / rate plus the filter's first-result
# delay of 0.5 ms), the multiplexer's 10 ms settling per channel change and
# per bias-battery half, and the fixed waits of the wake: board start-up
# 2 ms, converter power-up and reset 2 + 20 ms, sensor supplies 100 + 1 ms,
# the pump sequencer's 250 ms pause after its step (no pump fitted: one
# step).  What is left - start-up code, the card append, the record on the
# console, the record store - is the overhead the 2 % goal limits.
rec = {}
for l in open(f"{d}/records.txt"):
    m = re.match(r"\s+(\S+) = (\S+)", l)
    if m:
        rec[m.group(1)] = m.group(2)
cfg = lambda name: rec.get(f"data_cfg[{name}]", "0") != "0"
conv = lambda what: int(rec[f"{what}_trials"]) / int(rec[f"{what}_sps"]) + 0.0005
need_temp = cfg("CFG_CALC_TEMP") or cfg("CFG_CALC_PH_VRSI") or cfg("CFG_CALC_PH_VRSE")
readings = []  # (name, multiplexer channel or None, conversion seconds)
if cfg("CFG_BIAS_BAT_NEG"): readings.append(("Vbias-", "bias", conv("Vbias")))
if cfg("CFG_BIAS_BAT_POS"): readings.append(("Vbias+", "bias", conv("Vbias")))
if cfg("CFG_I_SUBSTRATE"): readings.append(("Ib", 2, conv("Ib")))
if cfg("CFG_I_COUNTER"): readings.append(("Ik", 1, conv("Ik")))
if cfg("CFG_V_COUNTER_ELECT") or cfg("CFG_V_COUNTER_ELECT_STD"): readings.append(("Vk", 1, conv("Vk")))
if need_temp or cfg("CFG_V_THERMISTOR") or cfg("CFG_V_THERMISTOR_STD"): readings.append(("Vtherm", None, conv("Vtherm")))
if cfg("CFG_VRSI_BIASED") or cfg("CFG_VRSI_BIASED_STD"): readings.append(("Vrsi_b", 3, conv("Vrsi")))
if cfg("CFG_VRSI") or cfg("CFG_VRSI_STD") or cfg("CFG_CALC_PH_VRSI"): readings.append(("Vrsi", 3, conv("Vrsi")))
if cfg("CFG_VRSE_BIASED") or cfg("CFG_VRSE_BIASED_STD"): readings.append(("Vrse_b", 0, conv("Vrse")))
if cfg("CFG_VRSE") or cfg("CFG_VRSE_STD") or cfg("CFG_CALC_PH_VRSE"): readings.append(("Vrse", 0, conv("Vrse")))
settle, chan = 0.0, None
for name, c, _ in readings:
    if c == "bias":
        settle += 0.010
    elif c is not None and c != chan:
        settle += 0.010
        chan = c
fixed = 0.002 + 0.022 + 0.101 + 0.250
expected_awake = sum(t for _, _, t in readings) + settle + fixed

def per_record(path):
    s = json.load(open(path))
    n = max(s["samples"], 1)
    return s, s["card_sector_reads"] / n, s["card_sector_writes"] / n

first, r0, w0 = per_record(f"{d}/stats-first.json")
print()
print(f"simulated days            {days} ({len(records)} records)")
cpu = sum(float(x) for x in open(f"{d}/cpu.txt").read().split())
print(f"host time                 {stats['host_s']:.1f} s for the run, {cpu:.1f} s of processor time (goal for 30 days: < 30 s)")
if have_end:
    end, r1, w1 = per_record(f"{d}/stats-end.json")
    awake = end["awake_s"]["per_boot_mean"]
    print(f"awake per sample          {awake:.4f} s (mean of the {end['boots']['total']} wakes of the day after the run)")
else:
    awake = (stats["awake_s"]["total"] - stats["awake_s"]["per_boot_max"]) / max(stats["boots"]["total"] - 1, 1)
    print(f"awake per sample          {awake:.4f} s (mean of the wakes after the start)")
print(f"expected per sample       {expected_awake:.4f} s = conversions {sum(t for _, _, t in readings):.4f}"
      f" + settling {settle:.3f} + fixed waits {fixed:.3f} ({', '.join(n for n, _, _ in readings)})")
print(f"awake / expected          {100 * (awake / expected_awake - 1):+.2f} % (goal: within 2 %)")
print(f"card per record, day 1    {r0:.2f} sector reads, {w0:.2f} writes (goal: <= 4 reads, <= 3 writes)")
if have_end:
    print(f"card per record, day {days + 1:<4} {r1:.2f} sector reads, {w1:.2f} writes (file of {len(records)} records)")
wakes = stats["boots"]["total"]
print(f"EEPROM words per wake     {stats['eeprom_words_programmed'] / wakes:.2f} "
      f"({stats['eeprom_words_programmed']} words in {wakes} wakes)")
print(f"FRAM bytes per wake       {stats['fram_bytes_written'] / wakes:.1f}")
print()
if failures:
    print(f"bench-month: {len(failures)} check(s) failed (--keep DIR keeps the run's files)", file=sys.stderr)
    sys.exit(1)
EOF
