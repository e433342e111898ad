#!/usr/bin/env bash
# A soak run: SOAK_FRAMES frames (3000 by default) at full speed, with the
# program's resident memory read after a third of them, two thirds and all.
# Per-frame work (uploads, the frame timer, the read-back, the draw) must
# give back what it takes: a leak grows the memory in both later thirds,
# while a one-off step (a worker thread's first allocation, say) shows in one
# only.  So the run fails when both thirds grew by more than
# SOAK_RSS_LIMIT_KB (256).  Then the window is closed and the program must
# end with code 0.
#
# In a sanitizer build (VELMORA_SANITIZED=1) the run fails instead on any
# sanitizer error, and on any leak whose allocation passes through Velmora's
# own sources; leaks that the OpenGL driver leaves at exit, after its module
# has been unloaded, are not ours and are ignored.  Resident memory is not
# compared there: the sanitizer holds freed blocks back on purpose.
source "$(dirname "$0")/lib.sh"

frames=${SOAK_FRAMES:-3000}
limit_kb=${SOAK_RSS_LIMIT_KB:-256}

if [[ ${VELMORA_SANITIZED:-0} == 1 ]]; then
  # Leaks are judged below, from the report; the exit code stays the program's.
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
  export LSAN_OPTIONS=exitcode=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
fi

frames_done() { grep -c '^Processing time' "$work/stdout" 2>/dev/null || true; }
# The least of a few readings a little apart: a frame's transient buffers
# come and go between them, a leak does not.
rss_kb() {
  local least="" kb
  for _ in 1 2 3 4 5 6 7 8; do
    kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status")
    if [[ -z $least ]] || ((kb < least)); then least=$kb; fi
    sleep 0.01
  done
  echo "$least"
}
wait_frames() {
  local until
  until=$(deadline_in "$2")
  while (($(frames_done) < $1)); do
    running "$app_pid" || fail "the program ended after $(frames_done) frames"
    before "$until" || fail "only $(frames_done) of $1 frames within $2 s"
    sleep 0.1
  done
}

start_xvfb
STDIN=null start_app -noprompt
win=$(wait_window)
wait_fps_title "$win" >/dev/null

wait_frames $((frames / 3)) 1200
rss_1=$(rss_kb)
wait_frames $((frames * 2 / 3)) 1200
rss_2=$(rss_kb)
wait_frames "$frames" 1200
rss_3=$(rss_kb)
growth_2=$((rss_2 - rss_1))
growth_3=$((rss_3 - rss_2))

"$VELMORA_XWIN" close "$win"
wait_app_exit 60
[[ $app_rc == 0 ]] || fail "exit code $app_rc, not 0: $(grep -m 3 -E 'ERROR|runtime error' "$work/stderr")"
[[ ${VELMORA_SANITIZED:-0} == 1 ]] || ((growth_2 <= limit_kb || growth_3 <= limit_kb)) ||
  fail "resident memory keeps growing: $rss_1 -> $rss_2 -> $rss_3 kB over thirds of $frames frames"

if [[ ${VELMORA_SANITIZED:-0} == 1 ]]; then
  ! grep -qE 'ERROR: AddressSanitizer|runtime error' "$work/stderr" || fail "sanitizer error"
  # One leak report per blank-line separated block; ours name our folders.
  ours=$(awk -v RS= '/leak of/ && /\/(app|scene|gpu|kernel|cutil|cpu_runtime|shading|lanes)\/[a-z_]+\.(cpp|cu|h)/' \
    "$work/stderr")
  [[ -z $ours ]] || fail "leaks from Velmora's code: $(head -n 12 <<<"$ours")"
fi
echo "PASS: $(frames_done) frames, resident memory $rss_1 -> $rss_2 -> $rss_3 kB"
