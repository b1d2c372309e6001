#!/usr/bin/env bash
# Test processes remove their board folders when they end, and those that a
# killed test process left behind.
set -euo pipefail
tests="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A folder of a test process that no longer exists, and one of another
# program that merely looks alike.
gone=$(sh -c 'echo $$')
mkdir -p "$dir/varve-test-$gone/board" "$dir/varve-test-notapid"
TMPDIR="$dir" "$tests" --gtest_filter='WakeClock.KeyAfterALongNap*' > "$dir/log" 2>&1 || { cat "$dir/log"; exit 1; }
left=$(cd "$dir" && ls -A | grep -v '^log$' || true)
[ "$left" = "varve-test-notapid" ] || { echo "left behind: $left"; exit 1; }
echo ok
