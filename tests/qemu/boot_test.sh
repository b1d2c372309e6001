#!/usr/bin/env bash
# The image under QEMU: start-up text, the main menu as the README shows
# it, the exchange of exchange.txt, and a stack high-water mark within the
# static worst case.
#   boot_test.sh PYTHON SOURCE_DIR firmware.elf STACK-USAGE-ARGS...
set -euo pipefail
python=$1 source_dir=$2 elf=$3
shift 3
static=$("$python" "$@" --figure-only)
exec "$python" "$source_dir/scripts/qemu-console.py" --elf "$elf" --source-dir "$source_dir" \
  --exchange "$source_dir/tests/qemu/exchange.txt" --static-bytes "$static"
