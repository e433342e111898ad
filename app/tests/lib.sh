# Shared by the window tests: a private virtual X server, the program under
# test started in a scratch folder, and waiting with deadlines.
#
# The tests get the programs from the environment (set by CTest):
#   VELMORA              the program under test
#   VELMORA_XWIN         the window inspector (tools/xwin)
#   VELMORA_FRAME_MATCH  the screenshot-against-host-frame comparison
set -euo pipefail

: "${VELMORA:?set VELMORA to the program under test}"
: "${VELMORA_XWIN:?set VELMORA_XWIN to velmora-xwin}"
: "${VELMORA_FRAME_MATCH:?set VELMORA_FRAME_MATCH to velmora-frame-match}"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-test.XXXXXX")
xvfb_pid=""
app_pid=""
app_stdin_fd=""

fail() {
  echo "FAIL: $*" >&2
  for f in stdout stderr; do
    if [[ -s $work/$f ]]; then
      echo "--- program $f (last lines) ---" >&2
      tail -n 5 "$work/$f" >&2
    fi
  done
  exit 1
}

cleanup() {
  local rc=$?
  if [[ -n $app_pid ]] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

# Seconds since the epoch, with a fraction, for deadlines.
now() { date +%s.%N; }
before() { awk -v a="$(now)" -v b="$1" 'BEGIN { exit !(a < b) }'; }
deadline_in() { awk -v a="$(now)" -v s="$1" 'BEGIN { printf "%.3f", a + s }'; }

# The private virtual X server, started the same way as by ./run.
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/xvfb.sh"
start_xvfb() {
  start_private_xvfb "$work" 2>"$work/xvfb.why" || fail "$(cat "$work/xvfb.why")"
}

# The process state letter from /proc (R, S, Z, ...), or "gone".  A zombie
# still answers kill -0, so "is it still running" must look here.
proc_state() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo gone; return; }
  stat=${stat##*) }
  echo "${stat%% *}"
}
running() {
  local s
  s=$(proc_state "$1")
  [[ $s != gone && $s != Z && $s != X ]]
}

# Starts the program in the scratch folder with the given arguments; its
# standard input is a pipe held open by the test (write to it with
# send_stdin, end it with close_stdin), or /dev/null with STDIN=null.
start_app() {
  local program=${PROGRAM:-$VELMORA}
  if [[ ${STDIN:-pipe} == null ]]; then
    (cd "$work" && exec "$program" "$@" </dev/null >"$work/stdout" 2>"$work/stderr") &
    app_pid=$!
  else
    rm -f "$work/stdin"
    mkfifo "$work/stdin"
    (cd "$work" && exec "$program" "$@" <"$work/stdin" >"$work/stdout" 2>"$work/stderr") &
    app_pid=$!
    exec {app_stdin_fd}>"$work/stdin"
  fi
}
send_stdin() { printf '%s' "$1" >&"$app_stdin_fd"; }
close_stdin() {
  if [[ -n $app_stdin_fd ]]; then
    exec {app_stdin_fd}>&-
    app_stdin_fd=""
  fi
}

# Waits for the program to end, up to the given seconds, and sets app_rc to
# its exit code.  (Not for a command substitution: only this shell can wait
# for its child.)
wait_app_exit() {
  local until
  until=$(deadline_in "$1")
  while running "$app_pid"; do
    before "$until" || fail "the program did not end within $1 s"
    sleep 0.02
  done
  app_rc=0
  wait "$app_pid" || app_rc=$?
  app_pid=""
}

# The id of the program's window, once it is mapped.
wait_window() {
  "$VELMORA_XWIN" wait 30 || fail "no window appeared"
}

# Waits until the window's title shows a frame rate (the window is mapped,
# black, before the first frame); prints the title.
wait_fps_title() {
  local win=$1 title until
  until=$(deadline_in 60)
  while :; do
    title=$("$VELMORA_XWIN" title "$win" 2>/dev/null || true)
    [[ $title =~ ^FPS=[0-9]+$ ]] && break
    running "$app_pid" || fail "the program ended before its first frame"
    before "$until" || fail "no frame rate in the title (title: '$title')"
    sleep 0.05
  done
  echo "$title"
}

# Whether the program's standard output ends with the given text.
stdout_ends_with() {
  [[ "$(tail -c "${#1}" "$work/stdout" 2>/dev/null; echo x)" == "${1}x" ]]
}

# Waits until the program's standard output ends with the given text.
wait_stdout_tail() {
  local text=$1 until
  until=$(deadline_in 20)
  while ! stdout_ends_with "$text"; do
    before "$until" || fail "standard output does not end with $(printf '%q' "$text")"
    sleep 0.02
  done
}

prompt=$'\nPress ENTER to exit...\n'
