#!/usr/bin/env bash
# Fails when a source includes against the direction of the layers
# (docs/architecture.md): the firmware reaches only the platform facade, the
# simulated chip (platform/host) nothing of the simulator around it, the
# device models (sim/devices) nothing of the run machinery or the tools,
# the run machinery (sim/run) nothing of the tools; the serial ring
# nothing of the console.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# check DIR... -- FORBIDDEN_REGEX
check() {
    local forbidden=${*: -1}
    local dirs=("${@:1:$#-2}")
    local found
    found=$(grep -rnE --include='*.cpp' --include='*.h' "^#include \"($forbidden)" "${dirs[@]}" || true)
    if [ -n "$found" ]; then
        echo "$found"
        status=1
    fi
}

check app operator sampling instruments storage records serial analog board -- 'platform/(host|target)/|sim/|tests/'
check platform/host -- 'sim/|tests/|app/|operator/|sampling/|instruments/|storage/|records/|serial/|analog/|board/'
check sim/devices -- 'sim/run/|sim/tools/|tests/'
check sim/run -- 'sim/tools/|tests/'
check sim/tools -- 'tests/'
# The serial ports' shared ring works only through the port record it is
# given: it knows nothing of the console built on it.
check serial/uart_ring.cpp serial/uart_ring.h -- 'serial/uartstdio'

if [ "$status" -ne 0 ]; then
    echo "check-layers: the includes above run against the layers (docs/architecture.md)" >&2
fi
exit "$status"
