#!/usr/bin/env bash
# stall_children_test.sh SOURCE_DIR: the watcher scripts/stall-children on two small commands
# of its own, and the filtered CTest steps of scripts/, which must fail when they match nothing.
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }
bad=$(grep -n 'ctest .*-R ' "$1"/scripts/* | grep -v -e '--no-tests=error' -e ' -N ')
[ -z "$bad" ] || fail "a filtered ctest step without --no-tests=error: $bad"
[ -z "${STALL_CHILDREN_WATCHING-}" ] || { echo "the watcher cannot be tested under itself"; exit 77; }
[ "$(id -u)" = 0 ] || { echo "needs root"; [ -n "${TARNFITS_NO_SKIP-}" ] && exit 1 || exit 77; }
# The command forks a child that waits (20 s at most) until its parent is stopped, then
# either keeps running until the parent is let go, or continues the parent itself and sleeps.
child='import os, sys, signal, time
state = lambda: open(f"/proc/{os.getppid()}/stat").read().rpartition(")")[2].split()[0]
if os.fork() == 0:
    end = time.monotonic() + 20
    while state() != "T" and time.monotonic() < end: pass
    if sys.argv[1] == "continue": os.kill(os.getppid(), signal.SIGCONT), time.sleep(1)
    while state() == "T" and time.monotonic() < end: pass
    os._exit(0)
os.wait()'
# Held for the limit (1 s here), and seen stopped when let go.
out=$(python3 "$1"/scripts/stall-children --deadline 30 --hold-limit 1 -- python3 -c "$child" spin 2>&1)
status=$?
[ $status = 0 ] && grep -q '1 stops (1 seen stopped when let go), 0 let go while the child waited, 1 let go after 1 s' <<<"$out" ||
  fail "the hold limit (status $status): $out"
# A stop undone before the parent is let go did not land: nothing was tested (status 2).
out=$(python3 "$1"/scripts/stall-children --deadline 30 -- python3 -c "$child" continue 2>&1)
status=$?
[ $status = 2 ] && grep -q '1 stops (0 seen stopped when let go), 1 let go while the child waited' <<<"$out" ||
  fail "a stop that did not land (status $status): $out"
