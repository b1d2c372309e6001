#!/usr/bin/env bash
# varve-sim from the command line: a new board, an empty script, 120 s.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
: > "$dir/script"
"$sim" --board "$dir/b" --input "$dir/script" --until 120 --start "2026-03-01 08:00:00" > "$dir/out" 2> "$dir/err"
grep -q "Main Menu -- v4.1.2 Varve revB -- Will sleep in 30 seconds" "$dir/out"
# The transcript ends with the sleep message.
printf '\r\n\r\nSleeping...*' > "$dir/expected-end"
tail -c 16 "$dir/out" | cmp -s - "$dir/expected-end"
grep -q "provisioned" "$dir/err"
# Usage errors say so and exit 2.
set +e
"$sim" --bogus > /dev/null 2>&1; rc=$?
set -e
[ "$rc" -eq 2 ]
# (into a file: grep -q leaving early would cut the pipe under pipefail)
"$sim" --help > "$dir/help"
grep -q -- "--board DIR" "$dir/help"
# A malformed script is refused with the line number.
printf '1x hello\n' > "$dir/bad"
if "$sim" --board "$dir/b" --input "$dir/bad" 2> "$dir/err2"; then exit 1; fi
grep -q "line 1" "$dir/err2"
echo ok
