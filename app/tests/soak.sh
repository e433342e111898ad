#!/usr/bin/env bash
# A soak run: SOAK_FRAMES frames (3000 by default) at full speed.  The
# program's resident memory after the first fifth of them and at the end
# must not differ by more than SOAK_RSS_LIMIT_KB (1024): per-frame work
# (uploads, the frame timer, the read-back, the draw) must give back what it
# takes.  Then the window is closed and the program must end with code 0.
#
# In a sanitizer build (VELMORA_SANITIZED=1) the run fails instead on any
# sanitizer error, and on any leak whose allocation passes through Velmora's
# own sources; leaks that the OpenGL driver leaves at exit, after its module
# has been unloaded, are not ours and are ignored.  Resident memory is not
# compared there: the sanitizer holds freed blocks back on purpose.
source "$(dirname "$0")/lib.sh"

frames=${SOAK_FRAMES:-3000}
limit_kb=${SOAK_RSS_LIMIT_KB:-1024}
warmup=$((frames / 5))

if [[ ${VELMORA_SANITIZED:-0} == 1 ]]; then
  # Leaks are judged below, from the report; the exit code stays the program's.
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
  export LSAN_OPTIONS=exitcode=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
fi

frames_done() { grep -c '^Processing time' "$work/stdout" 2>/dev/null || true; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status"; }
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

wait_frames "$warmup" 1200
rss_start=$(rss_kb)
wait_frames "$frames" 3600
rss_end=$(rss_kb)
growth=$((rss_end - rss_start))

"$VELMORA_XWIN" close "$win"
wait_app_exit 60
[[ $app_rc == 0 ]] || fail "exit code $app_rc, not 0: $(grep -m 3 -E 'ERROR|runtime error' "$work/stderr")"
[[ ${VELMORA_SANITIZED:-0} == 1 ]] || ((growth <= limit_kb)) ||
  fail "resident memory grew by $growth kB between frames $warmup and $frames (from $rss_start kB)"

if [[ ${VELMORA_SANITIZED:-0} == 1 ]]; then
  ! grep -qE 'ERROR: AddressSanitizer|runtime error' "$work/stderr" || fail "sanitizer error"
  # One leak report per blank-line separated block; ours name our folders.
  ours=$(awk -v RS= '/leak of/ && /\/(app|scene|gpu|kernel|cutil|cpu_runtime|shading|lanes)\/[a-z_]+\.(cpp|cu|h)/' \
    "$work/stderr")
  [[ -z $ours ]] || fail "leaks from Velmora's code: $(head -n 12 <<<"$ours")"
fi
echo "PASS: $(frames_done) frames, resident memory $rss_start kB -> $rss_end kB ($growth kB)"
