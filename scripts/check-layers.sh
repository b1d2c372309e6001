#!/usr/bin/env bash
# Fails when a source includes against the direction of the layers
# (docs/architecture.md): the firmware's folders include only downwards, in
# the order of FIRMWARE_LAYERS below; the firmware reaches only the platform
# facade, the
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

# The firmware's own layers, top to bottom (docs/architecture.md): a folder
# includes from its own folder and the layers below it.  Folders on one
# line are peers: instruments and storage know nothing of each other; the
# drivers of the console, the lines and the timebase use each other.
FIRMWARE_LAYERS=(
    "app"
    "operator"
    "sampling"
    "instruments storage"
    "analog"
    "records"
    "serial board"
)
# Includes against the order that are known and kept, FILE:HEADER (none may
# be added: a new one is a layer fault).
KNOWN_UPWARD=(
    "sampling/sample_pump.cpp:operator/config_headers.h"
    "sampling/sample_cycle.cpp:app/sleep.h"
    "operator/config_menu.cpp:app/sleep.h"
)
above=()
for ((i = 0; i < ${#FIRMWARE_LAYERS[@]}; i++)); do
    read -ra here <<<"${FIRMWARE_LAYERS[$i]}"
    for dir in "${here[@]}"; do
        forbidden=("${above[@]}")
        if [ "${here[0]}" = instruments ]; then
            for peer in "${here[@]}"; do
                [ "$peer" != "$dir" ] && forbidden+=("$peer")
            done
        fi
        [ ${#forbidden[@]} -eq 0 ] && continue
        pattern=$(IFS='|'; echo "${forbidden[*]}")
        while IFS= read -r hit; do
            [ -z "$hit" ] && continue
            file=${hit%%:*}
            header=$(sed -E 's/^[^"]*"([^"]*)".*/\1/' <<<"$hit")
            known=0
            for k in "${KNOWN_UPWARD[@]}"; do
                [ "$k" = "$file:$header" ] && known=1
            done
            if [ "$known" -eq 0 ]; then
                echo "$hit"
                status=1
            fi
        done < <(grep -rnE --include='*.cpp' --include='*.h' "^#include \"($pattern)/" "$dir" || true)
    done
    above+=("${here[@]}")
done
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
