#!/usr/bin/env bash
# The static stack analysis accepts the image at a limit equal to its worst
# case and refuses it one byte below (the build uses the same check at the
# 4 KiB stack), and refuses recursion that has no bound.
#   stack_limit_test.sh PYTHON STACK-USAGE-ARGS...
set -euo pipefail
python=$1
shift
static=$("$python" "$@" --figure-only)
echo "static worst case: $static bytes"
[ "$static" -gt 0 ] && [ "$static" -le 4096 ]
"$python" "$@" --limit "$static" > /dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if "$python" "$@" --limit $((static - 1)) > /dev/null 2> "$log"; then
  echo "FAIL: accepted at a limit of $((static - 1)) bytes" >&2
  exit 1
fi
grep -q "exceeds the $((static - 1))-byte stack" "$log"
# Without the hand bounds, the recursion the bounds file names is refused,
# not ignored.
bounds=$(printf '%s\n' "$@" | sed -n '/^--bounds$/{n;p}')
if grep -q '^recursion ' "$bounds"; then
  if "$python" "$@" --bounds /dev/null > /dev/null 2> "$log"; then
    echo "FAIL: recursion accepted without a bound" >&2
    exit 1
  fi
  grep -q "recursion not bounded" "$log"
fi
echo ok
