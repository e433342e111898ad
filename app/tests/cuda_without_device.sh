#!/usr/bin/env bash
# The CUDA build on a machine without a CUDA device: the first device
# allocation fails, one line names rtlib.cu and line 37, and the exit code
# is 1.
source "$(dirname "$0")/lib.sh"
: "${VELMORA_CUDA:?set VELMORA_CUDA to velmora-cuda}"

if [[ -e /dev/nvidia0 ]] || nvidia-smi -L >/dev/null 2>&1; then
  echo "SKIP: this machine has a CUDA device"
  exit 0
fi

start_xvfb
PROGRAM=$VELMORA_CUDA STDIN=null start_app -noprompt
wait_app_exit 30
[[ $app_rc == 1 ]] || fail "exit code $app_rc, not 1"
[[ $(grep -c '' "$work/stderr") == 1 ]] || fail "not exactly one line on standard error"
grep -qE "^Cuda error in file 'rtlib\.cu' in line 37 : .+\.$" "$work/stderr" ||
  fail "unexpected message: $(cat "$work/stderr")"
echo "PASS: $(cat "$work/stderr")"
