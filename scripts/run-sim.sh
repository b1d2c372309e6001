#!/usr/bin/env bash
# Builds the simulator and starts the simulated controller on this terminal.
# Extra arguments go to varve-sim (see varve-sim --help).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc 2>/dev/null || echo 2)" --target varve-sim
exec build/host/bin/varve-sim "$@"
