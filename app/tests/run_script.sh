#!/usr/bin/env bash
# ./run checks VELMORA_RUN_SECONDS before it installs or builds anything: a
# value that is not a number of seconds is refused with one line and
# status 2.
set -euo pipefail
run=${VELMORA_RUN:?set VELMORA_RUN to the ./run script}

for value in abc -1 0 0.0 1e3 '4; echo hi' 3601 ' 4'; do
  rc=0
  out=$(env -u DISPLAY VELMORA_RUN_SECONDS="$value" "$run" 2>&1) || rc=$?
  [[ $rc == 2 ]] || { echo "FAIL: VELMORA_RUN_SECONDS='$value': status $rc, not 2: $out" >&2; exit 1; }
  [[ $out == "error: VELMORA_RUN_SECONDS must be a number of seconds above 0 and at most 3600 (it is '$value')" ]] ||
    { echo "FAIL: VELMORA_RUN_SECONDS='$value': $out" >&2; exit 1; }
done
echo PASS
