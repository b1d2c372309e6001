#!/usr/bin/env bash
# scripts/flash.sh without a board: its errors, and its time limit on a
# tool that never returns.  The flash tools are stand-ins on a PATH of
# their own, so no real board is ever written.
#   flash_test.sh SOURCE_DIR
set -euo pipefail
flash="$1/scripts/flash.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
for t in bash dirname timeout sleep cat; do ln -s "$(command -v "$t")" "$dir/bin/$t"; done
printf 'image' > "$dir/firmware.bin"
printf 'image' > "$dir/firmware.elf"

fail() { echo "FAIL: $*" >&2; cat "$dir/log" >&2; exit 1; }
# run EXPECTED_STATUS TEXT_IN_OUTPUT flash.sh-arguments...
run() {
  local want=$1 text=$2 rc=0
  shift 2
  PATH="$dir/bin" "$flash" "$@" > "$dir/log" 2>&1 < /dev/null || rc=$?
  [ "$rc" -eq "$want" ] || fail "flash.sh $* exited $rc, expected $want"
  grep -qF -- "$text" "$dir/log" || fail "flash.sh $*: no '$text' in its output"
}

# No tool installed at all, or not the one asked for.
run 1 "neither lm4flash nor openocd is installed" "$dir/firmware.bin"
run 1 "openocd is not installed" --tool openocd "$dir/firmware.elf"
run 2 "unknown tool 'jlink'" --tool jlink

# A tool without a board: its own message, then flash.sh's.
printf '#!%s\necho "Unable to find any ICDI devices"; exit 2\n' "$dir/bin/bash" > "$dir/bin/lm4flash"
chmod +x "$dir/bin/lm4flash"
run 1 "Unable to find any ICDI devices" "$dir/firmware.bin"
grep -qF "lm4flash failed (exit status 2)" "$dir/log" || fail "no summary of the tool's failure"

# Images: missing, or of the wrong kind for the tool.
run 1 "image $dir/none.bin not found" "$dir/none.bin"
run 1 "lm4flash writes a raw image" --tool lm4flash "$dir/firmware.elf"
printf 'map' > "$dir/firmware.map"
run 1 "lm4flash writes a raw image" --tool lm4flash "$dir/firmware.map"
touch -d '1 hour ago' "$dir/firmware.bin"
run 1 "is older than $dir/firmware.elf" --tool lm4flash "$dir/firmware.bin"
touch "$dir/firmware.bin"

# A tool that hangs (a board that never answers) is stopped at the limit.
printf '#!%s\nexec sleep 600\n' "$dir/bin/bash" > "$dir/bin/lm4flash"
FLASH_TIMEOUT=1 run 1 "did not finish within 1 s" "$dir/firmware.bin"
FLASH_TIMEOUT=soon run 2 "FLASH_TIMEOUT must be a whole number" "$dir/firmware.bin"

# A tool that succeeds.
printf '#!%s\necho "Found ICDI device"; exit 0\n' "$dir/bin/bash" > "$dir/bin/lm4flash"
run 0 "flash: done" "$dir/firmware.bin"
echo ok
