#!/usr/bin/env bash
# Builds the simulator and starts the simulated controller on this terminal.
# Extra arguments go to varve-sim (see varve-sim --help); paths in them, and
# the default board folder ./varve-board, are taken from the directory this
# script is run from.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
(
  cd "$root"
  cmake --preset host >/dev/null
  cmake --build --preset host -j "$(nproc 2>/dev/null || echo 2)" --target varve-sim
) >&2
exec "$root/build/host/bin/varve-sim" "$@"
