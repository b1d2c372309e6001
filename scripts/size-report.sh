#!/usr/bin/env bash
# Memory use of the firmware image, its stack depth, and a check that the
# image can boot.
#
#   size-report.sh FIRMWARE.elf [REPORT_FILE [BUILD_DIR]]
#
# Prints text/data/bss and the flash and RAM use (RAM = data + bss + stack)
# against the TM4C123GH6PGE's 256 KiB of flash and 32 KiB of SRAM, and
# fails when either is exceeded.  It also checks that the vector table is
# at address 0, that entry 0 is the top of the stack and that entry 1 is
# ResetISR with the Thumb bit set.
#
# With BUILD_DIR (the build tree, whose .ci files hold the compiler's stack
# figures) it adds the worst-case stack depth by static analysis
# (stack-usage.py; fails above the 4 KiB stack), the stack depth measured
# under QEMU (qemu-console.py, when qemu-system-arm and gdb-multiarch are
# installed; never fails the build) and flash and RAM by module from
# FIRMWARE.map (module-sizes.py).
#
# REPORT_FILE receives the report, with the deepest call paths, only when
# every check passes.
# Tools: $READELF, $NM, $OBJCOPY, $OBJDUMP and $CXXFILT, default
# arm-none-eabi-*.
set -euo pipefail

elf=${1:?usage: size-report.sh FIRMWARE.elf [REPORT_FILE [BUILD_DIR]]}
report_file=${2:-}
build_dir=${3:-}
READELF=${READELF:-arm-none-eabi-readelf}
NM=${NM:-${READELF%readelf}nm}
OBJCOPY=${OBJCOPY:-${READELF%readelf}objcopy}
export OBJDUMP=${OBJDUMP:-${READELF%readelf}objdump}
export CXXFILT=${CXXFILT:-${READELF%readelf}c++filt}
export READELF
scripts=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$scripts")
STACK_GOAL=3072

FLASH_BYTES=$((256 * 1024))
RAM_BYTES=$((32 * 1024))
RAM_START=$((0x20000000))

# Allocated sections: name, type, address, size.
sections=$("$READELF" -S -W "$elf" | sed -n 's/^ *\[ *[0-9]*\] //p' |
  awk '$7 ~ /A/ { print $1, $2, $3, $5 }')

flash=0 ram=0 data=0 bss=0 stack=0
while read -r name type addr size; do
  [ -n "$name" ] || continue
  addr=$((16#$addr)) size=$((16#$size))
  if [ "$type" != NOBITS ]; then
    flash=$((flash + size))        # code, constants and initial values
  fi
  if [ "$addr" -ge "$RAM_START" ]; then
    ram=$((ram + size))
    if [ "$name" = .stack ]; then
      stack=$((stack + size))
    elif [ "$type" = NOBITS ]; then
      bss=$((bss + size))
    else
      data=$((data + size))
    fi
  fi
done <<< "$sections"
text=$((flash - data))

percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", 100.0 * a / b }'; }

out=$(mktemp)
trap 'rm -f "$out" "$out.vectors" "$out.paths" "$out.measured"' EXIT
{
  echo "Memory use of $(basename "$elf"):"
  printf '  text %d  data %d  bss %d  stack %d (bytes)\n' "$text" "$data" "$bss" "$stack"
  printf '  flash: %7d of %d bytes (%s %%)  = text + data\n' "$flash" "$FLASH_BYTES" "$(percent "$flash" "$FLASH_BYTES")"
  printf '  RAM:   %7d of %d bytes (%s %%)  = data + bss + stack\n' "$ram" "$RAM_BYTES" "$(percent "$ram" "$RAM_BYTES")"
} > "$out"
cat "$out"

status=0
if [ "$flash" -gt "$FLASH_BYTES" ]; then
  echo "error: the image needs $flash bytes of flash; the chip has $FLASH_BYTES" >&2
  status=1
fi
if [ "$ram" -gt "$RAM_BYTES" ]; then
  echo "error: the image needs $ram bytes of RAM; the chip has $RAM_BYTES" >&2
  status=1
fi

# Boot check: vector table at 0, entry 0 = stack top, entry 1 = ResetISR | 1.
symbols=$("$NM" "$elf")
symbol() { awk -v s="$1" '$3 == s && !found { print $1; found = 1 }' <<< "$symbols"; }
vectors=$(symbol g_pfnVectors)
stack_top=$(symbol __stack_top)
reset=$(symbol ResetISR)
if [ -z "$vectors" ] || [ $((16#$vectors)) -ne 0 ]; then
  echo "error: g_pfnVectors is not at address 0 (found '${vectors:-none}')" >&2
  status=1
elif [ -z "$reset" ] || [ -z "$stack_top" ]; then
  echo "error: ResetISR or __stack_top missing from the image" >&2
  status=1
else
  "$OBJCOPY" -O binary -j .isr_vector "$elf" "$out.vectors"
  words=$(od -An -N8 -tx4 --endian=little "$out.vectors")
  read -r entry0 entry1 <<< "$words"
  if [ $((16#$entry0)) -ne $((16#$stack_top)) ]; then
    echo "error: vector 0 is 0x$entry0, expected the stack top 0x$stack_top" >&2
    status=1
  fi
  if [ $((16#$entry1)) -ne $(((16#$reset) | 1)) ]; then
    echo "error: vector 1 is 0x$entry1, expected ResetISR 0x$reset with the Thumb bit" >&2
    status=1
  fi
  if [ "$status" -eq 0 ]; then
    echo "  boot: vector table at 0x00000000, SP 0x$entry0, reset 0x$entry1 (Thumb)" | tee -a "$out"
  fi
fi

if [ -n "$build_dir" ]; then
  map=${elf%.elf}.map
  # Static worst case; its deepest paths go to the report file only.
  if python3 "$scripts/stack-usage.py" --elf "$elf" --map "$map" --build-dir "$build_dir" \
      --bounds "$scripts/stack-bounds.txt" --goal "$STACK_GOAL" --paths > "$out.paths"; then :; else status=1; fi
  sed '/deepest .* path:/,$d' "$out.paths" | tee -a "$out"
  # Measured: a failed run is reported, not fatal (the QEMU test fails).
  python3 "$scripts/qemu-console.py" --measure --timeout 30 --elf "$elf" --source-dir "$source_dir" \
    --exchange "$source_dir/tests/qemu/exchange.txt" > "$out.measured" ||
    echo "  stack, measured under QEMU: not measured (qemu-console.py failed)" > "$out.measured"
  tee -a "$out" < "$out.measured"
  python3 "$scripts/module-sizes.py" --map "$map" --build-dir "$build_dir" | tee -a "$out"
  sed -n '/deepest .* path:/,$p' "$out.paths" >> "$out"
fi

if [ "$status" -eq 0 ] && [ -n "$report_file" ]; then
  cat "$out" > "$report_file"
fi
exit "$status"
