#!/usr/bin/env bash
# The console on a pseudo-terminal, driven by a terminal program (picocom).
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
pid=""
# The simulator saves its board folder when it is stopped: wait for that.
cleanup() { if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; fi; rm -rf "$dir"; }
trap cleanup EXIT
"$sim" --board "$dir/b" --console pty --until 30 > "$dir/transcript" 2> "$dir/err" &
pid=$!
for _ in $(seq 100); do
  grep -q "console on /dev/" "$dir/err" && break
  sleep 0.1
done
pty=$(sed -n 's/^varve-sim: console on \(\/dev\/[^ ]*\).*/\1/p' "$dir/err")
[ -n "$pty" ]
# picocom sends what it reads on standard input and prints what arrives;
# --exit-after leaves it after a second of silence.
sleep 1
( sleep 1; printf '6\r'; sleep 2 ) | timeout 20 picocom -q -b 115200 --exit-after 1500 "$pty" > "$dir/picocom" 2>&1 || true
# picocom resets the line when it opens it, so what was sent before is not
# shown; the echo of the key and the menu it brings back are.
grep -q "^6" "$dir/picocom"
grep -q "Main Menu -- v4.1.2 Varve revB" "$dir/picocom"
grep -q "Enter Selection: " "$dir/picocom"
echo ok
