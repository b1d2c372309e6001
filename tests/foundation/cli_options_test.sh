#!/usr/bin/env bash
# varve-sim's command line as a user meets it: messages and exit codes of
# wrong values, notes for options that do not apply, and a clean end on a
# signal.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$dir/err" ] && cat "$dir/err"; exit 1; }

# expect_usage MESSAGE ARGS...: exit status 2 and MESSAGE on standard error.
expect_usage() {
  local msg="$1"; shift
  local rc=0
  "$sim" --board "$dir/unused" "$@" > /dev/null 2> "$dir/err" || rc=$?
  [ "$rc" -eq 2 ] || fail "$* exited $rc, not 2"
  grep -qF -- "$msg" "$dir/err" || fail "$*: no \"$msg\""
  [ ! -e "$dir/unused" ] || fail "$* created a board folder"
}

expect_usage 'got "2026-13-01 00:00:00"' --start "2026-13-01 00:00:00"
expect_usage '--start needs' --start ""
expect_usage 'card-power-cut=N needs a whole number of sector writes, at least 1, got "card-power-cut=0"' \
  --fault card-power-cut=0
expect_usage 'card-power-cut=N needs' --fault card-power-cut=3x
expect_usage 'card-power-cut=N needs' --fault card-power-cut
expect_usage 'card-removed=S needs' --fault card-removed=-1
expect_usage 'unknown fault "card-on-fire"' --fault card-on-fire=1
expect_usage '--fault hibernate takes no value' --fault hibernate=1
expect_usage '--analog-param e0int needs a value: e0int=VALUE' --analog-param e0int
expect_usage '--analog-param e0int needs a value' --analog-param e0int=
expect_usage 'unknown parameter "e0intt"' --analog-param e0intt=1
expect_usage '--card-size needs a whole number of MiB' --card-size 40abc
expect_usage '--pace needs a whole number from 1 to 1000' --pace 0
expect_usage '--pace needs a whole number from 1 to 1000' --pace 1.5
grep -qF 'Ctrl-C' <("$sim" --help) || fail "--help does not say how to leave a pty console"

# An input script that cannot be read fails before a new board is made.
rc=0
"$sim" --board "$dir/nb" --input "$dir/missing" > /dev/null 2> "$dir/err" || rc=$?
[ "$rc" -eq 1 ] || fail "missing --input exited $rc"
grep -qF "cannot read input script" "$dir/err" || fail "missing --input: no message"
[ ! -e "$dir/nb" ] || fail "missing --input provisioned a board"

# Options for a new board are noted as ignored on an existing one.
: > "$dir/empty"
"$sim" --board "$dir/b" --input "$dir/empty" --until 1 --card-size 40 > /dev/null 2> "$dir/err"
"$sim" --board "$dir/b" --input "$dir/empty" --until 1 --card-size 64 --blank \
  --start "2026-01-01 00:00:00" > /dev/null 2> "$dir/err"
grep -qF -- "--blank applies to a new board only" "$dir/err" || fail "--blank not noted"
grep -qF -- "--card-size applies to a new card only; $dir/b keeps its 40 MiB card" "$dir/err" ||
  fail "--card-size not noted"
grep -qF -- "--start applies to a new board only" "$dir/err" || fail "--start not noted"

# A board folder made inside a git work tree stays out of git's view.
git init -q "$dir/repo"
"$sim" --board "$dir/repo/myboard" --input "$dir/empty" --until 1 --card-size 40 > /dev/null 2> "$dir/err"
[ -z "$(git -C "$dir/repo" status --porcelain)" ] || fail "git sees the board folder"

# SIGTERM ends a run cleanly: status 128+15, the board folder saved with the
# board's state at that moment (awake, then hibernating).
wait_for() { # FILE TEXT: up to 20 s
  for _ in $(seq 200); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "no \"$2\" in $1"
}
stop_run() { # SCRIPT-TEXT FILE WAIT-FOR-TEXT
  printf '%b' "$1" > "$dir/script"
  "$sim" --board "$dir/b" --input "$dir/script" --realtime --until 600 > "$dir/out" 2> "$dir/err" &
  pid=$!
  wait_for "$2" "$3"
  kill -TERM "$pid"
  rc=0
  wait "$pid" || rc=$?
  pid=""
  [ "$rc" -eq 143 ] || fail "SIGTERM: exit status $rc"
  grep -qF "stopped by signal 15; board folder $dir/b saved" "$dir/err" || fail "SIGTERM: no note"
}
stop_run '0.2 x\n' "$dir/out" 'Enter Selection: '
grep -q '^hibernating 0$' "$dir/b/hibernate.txt" || fail "stopped awake: not saved as awake"
stop_run '0.5 4\\r\n' "$dir/b/hibernate.txt" 'hibernating 1'
grep -q '^hibernating 1$' "$dir/b/hibernate.txt" || fail "stopped hibernating: not saved as hibernating"
echo ok
