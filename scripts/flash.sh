#!/usr/bin/env bash
# Writes the firmware image into the controller's flash over the TI
# in-circuit debug interface (ICDI, USB 1cbe:00fd).
#
#   flash.sh [--tool lm4flash|openocd] [IMAGE]
#
# lm4flash writes firmware.bin at address 0 and verifies it; OpenOCD
# writes firmware.elf (board configuration $OPENOCD_CONFIG, default
# board/ti_ek-tm4c123gxl.cfg: ICDI adapter and the TM4C123 target),
# verifies it and resets the processor.  Without --tool, lm4flash is used
# when installed, else OpenOCD.  IMAGE defaults to the target build's image
# (build/target/platform/target/firmware.bin or .elf).
#
# The tool gets $FLASH_TIMEOUT seconds (default 120; a whole 256 KiB image
# takes well under a minute) and is stopped after that; without a board
# both tools fail at once with their own message.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
image_dir="$root/build/target/platform/target"
tool=""
image=""
timeout_s=${FLASH_TIMEOUT:-120}
openocd_config=${OPENOCD_CONFIG:-board/ti_ek-tm4c123gxl.cfg}

usage() {
  echo "usage: flash.sh [--tool lm4flash|openocd] [IMAGE]" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --tool)
      [ $# -ge 2 ] || usage
      tool=$2
      shift 2
      ;;
    --tool=*)
      tool=${1#--tool=}
      shift
      ;;
    -h | --help) usage ;;
    -*) echo "flash: unknown option $1" >&2; usage ;;
    *)
      [ -z "$image" ] || usage
      image=$1
      shift
      ;;
  esac
done

if [ -z "$tool" ]; then
  if command -v lm4flash > /dev/null; then
    tool=lm4flash
  elif command -v openocd > /dev/null; then
    tool=openocd
  else
    echo "flash: neither lm4flash nor openocd is installed (Debian: apt-get install lm4flash, or openocd)" >&2
    exit 1
  fi
fi
case "$tool" in
  lm4flash) default_image=$image_dir/firmware.bin ;;
  openocd) default_image=$image_dir/firmware.elf ;;
  *) echo "flash: unknown tool '$tool' (lm4flash or openocd)" >&2; exit 2 ;;
esac
if ! command -v "$tool" > /dev/null; then
  echo "flash: $tool is not installed (Debian: apt-get install $tool)" >&2
  exit 1
fi

image=${image:-$default_image}
if [ ! -f "$image" ]; then
  echo "flash: image $image not found; build it with: cmake --preset target && cmake --build --preset target" >&2
  exit 1
fi
# Only the image kind the tool takes: anything else (a map file, an ELF
# given to lm4flash) would be written to flash as it is.
case "$tool:$image" in
  lm4flash:*.bin) ;;
  lm4flash:*) echo "flash: lm4flash writes a raw image (firmware.bin), not $image" >&2; exit 1 ;;
  openocd:*.elf) ;;
  openocd:*) echo "flash: use firmware.elf with OpenOCD (it carries the load addresses), not $image" >&2; exit 1 ;;
esac
# The raw image is made from the ELF by the build: one older than the ELF
# beside it is left from an earlier build.
elf=${image%.bin}.elf
if [ "$tool" = lm4flash ] && [ -f "$elf" ] && [ "$elf" -nt "$image" ]; then
  echo "flash: $image is older than $elf (a stale image); build again: cmake --build --preset target" >&2
  exit 1
fi
if ! [[ "$timeout_s" =~ ^[1-9][0-9]*$ ]]; then
  echo "flash: FLASH_TIMEOUT must be a whole number of seconds, not '$timeout_s'" >&2
  exit 2
fi

echo "flash: $tool $image" >&2
status=0
case "$tool" in
  lm4flash)
    timeout -k 5 "$timeout_s" lm4flash -v "$image" < /dev/null || status=$?
    ;;
  openocd)
    timeout -k 5 "$timeout_s" openocd -f "$openocd_config" \
      -c "program {$image} verify reset exit" < /dev/null || status=$?
    ;;
esac
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "flash: $tool did not finish within $timeout_s s and was stopped; is the board connected and powered?" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "flash: $tool failed (exit status $status): no board on the debug USB port, no permission for it, or a write error above" >&2
  exit 1
fi
echo "flash: done" >&2
