#!/usr/bin/env bash
# The kernel module is registered after the three Err.txt streams have
# opened and unregistered after they have closed, on a normal exit and on
# the exit(1) of a failed check.
set -euo pipefail
: "${VELMORA_EXIT_ORDER:?set VELMORA_EXIT_ORDER to velmora-exit-order}"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

expected='register: 3 Err.txt streams open
main: 3 Err.txt streams open
unregister: 0 Err.txt streams open'

for mode in normal fail; do
  rc=0
  "$VELMORA_EXIT_ORDER" $([[ $mode == fail ]] && echo fail) >stdout 2>stderr || rc=$?
  want_rc=0
  [[ $mode == fail ]] && want_rc=1
  if [[ $rc != "$want_rc" ]]; then
    echo "FAIL ($mode): exit code $rc, not $want_rc; stderr: $(cat stderr)" >&2
    exit 1
  fi
  if [[ $(cat stdout) != "$expected" ]]; then
    echo "FAIL ($mode): the order was" >&2
    cat stdout >&2
    exit 1
  fi
  [[ -f Err.txt && ! -s Err.txt ]] || { echo "FAIL ($mode): Err.txt is not there and empty" >&2; exit 1; }
  echo "PASS ($mode)"
done
