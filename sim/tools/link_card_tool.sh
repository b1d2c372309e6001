#!/bin/sh
# Links the card tool, its file-backed media layer and the FAT module into
# one relocatable object, then makes the symbols of the media layer and of
# the FAT module local to it.  varve-sim also links the firmware, which has
# the same FAT module over the card's SPI driver; this way each side keeps
# its own copy and neither sees the other's media functions.  Weak
# (inline, template) symbols stay global: the linker merges their copies.
#
# usage: link_card_tool.sh LD NM OBJCOPY OUT FATLIB MEDIA_OBJ TOOL_OBJ...
set -eu
LD=$1 NM=$2 OBJCOPY=$3 OUT=$4 FATLIB=$5 MEDIA=$6
shift 6
"$LD" -r -o "$OUT.tmp" "$MEDIA" "$@" --whole-archive "$FATLIB" --no-whole-archive
"$NM" -g --defined-only "$FATLIB" "$MEDIA" | awk 'NF >= 3 && $2 ~ /^[TDBRSG]$/ { print $3 }' | sort -u > "$OUT.syms"
"$OBJCOPY" --localize-symbols="$OUT.syms" "$OUT.tmp" "$OUT"
rm -f "$OUT.tmp"
