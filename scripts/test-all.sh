#!/usr/bin/env bash
# Builds every preset (host, host-asan, target) and runs all tests (the
# target's: the image under QEMU and gdb, its stack limit, flash.sh).  The
# tests on the wall clock (label realtime) run in host only; host-asan runs
# the others (CMakePresets.json).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

echo "=== layout"
./scripts/check-format.sh

for preset in host host-asan target; do
  echo "=== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in host host-asan target; do
  echo "=== test: $preset"
  # The host preset's tests mostly wait on the wall clock (a real peer on a
  # paced pty): twice as many at once as there are processors.
  test_jobs=$jobs
  [ "$preset" = host ] && test_jobs=$((jobs * 2))
  ctest --preset "$preset" -j "$test_jobs"
done
