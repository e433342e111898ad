#!/usr/bin/env bash
# The window as a user meets it: titled "VELMORA" at creation and then
# "FPS=n", centred on a 1024 x 768 screen, one timing line per frame on the
# console, Err.txt emptied; closing the window prints the prompt, flushed,
# and the program ends with code 0 only once a character arrives.
source "$(dirname "$0")/lib.sh"

start_xvfb
echo "text left by an earlier run" >"$work/Err.txt"

# Watch the titles from the moment the window is created.
"$VELMORA_XWIN" titles 60 '^FPS=[0-9]+$' >"$work/titles" 2>"$work/watch.log" &
watch_pid=$!
until=$(deadline_in 10)
until grep -q '^ready$' "$work/watch.log"; do
  before "$until" || fail "the title watch did not start"
  sleep 0.02
done

start_app
wait "$watch_pid" || fail "no FPS title appeared; titles seen: $(tr '\n' ' ' <"$work/titles")"
[[ $(head -n 1 "$work/titles") == VELMORA ]] ||
  fail "first title is '$(head -n 1 "$work/titles")', not VELMORA"
[[ $(tail -n 1 "$work/titles") =~ ^FPS=[0-9]+$ ]] || fail "last title: $(tail -n 1 "$work/titles")"

win=$(wait_window)
geometry=$("$VELMORA_XWIN" geometry "$win")
[[ $geometry == "192 144 640 480" ]] || fail "window geometry is '$geometry', not '192 144 640 480'"

[[ -f $work/Err.txt && ! -s $work/Err.txt ]] || fail "Err.txt is not there, empty, while running"

"$VELMORA_XWIN" close "$win"
wait_stdout_tail "$prompt"
# The prompt is out and the program waits for its character.
sleep 0.5
running "$app_pid" || fail "the program ended before a character arrived"
send_stdin x
wait_app_exit 10
[[ $app_rc == 0 ]] || fail "exit code $app_rc after the character, not 0"

[[ -f $work/Err.txt && ! -s $work/Err.txt ]] || fail "Err.txt is not there and empty after the run"
[[ ! -s $work/stderr ]] || fail "unexpected standard error: $(head -n 3 "$work/stderr")"

# Everything before the prompt is one timing line per frame.
frames=$(head -c -"${#prompt}" "$work/stdout" | grep -c '' || true)
bad=$(head -c -"${#prompt}" "$work/stdout" | grep -cvE '^Processing time: [0-9]+\.[0-9]{6} \(ms\) $' || true)
((frames > 0)) || fail "no timing lines"
((bad == 0)) || fail "$bad malformed timing lines"
echo "PASS: $frames frames, titles: $(sort -u "$work/titles" | head -n 3 | tr '\n' ' ')"
