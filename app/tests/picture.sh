#!/usr/bin/env bash
# What the window shows: a screenshot matches a frame of the scene rendered
# on the host for some animation clock (row 0 at the bottom), the picture
# moves, and keys, mouse buttons, drags and a resize change nothing.
source "$(dirname "$0")/lib.sh"

start_xvfb
STDIN=null start_app -noprompt
win=$(wait_window)
wait_fps_title "$win" >/dev/null

match() {  # screenshot name; prints the clock found
  "$VELMORA_XWIN" shot "$win" "$work/$1.png" || fail "screenshot $1 failed"
  local result
  result=$("$VELMORA_FRAME_MATCH" "$work/$1.png") || fail "$1 does not match: $result"
  echo "$1: $result" >&2
  awk '{ print $2 }' <<<"$result"
}

first=$(match first)
sleep 0.5
second=$(match second)
[[ $first != "$second" ]] || fail "the picture did not move (clock $first both times)"

# Keys, special keys, mouse buttons and a drag, through the X server's input.
read -r wx wy _ _ < <("$VELMORA_XWIN" geometry "$win")
xdotool mousemove $((wx + 320)) $((wy + 240)) key a Escape Return F1 Up
xdotool click 1 click 3 mousedown 1 mousemove $((wx + 100)) $((wy + 100)) mouseup 1
sleep 0.3
running "$app_pid" || fail "the program ended after keys and mouse"
match after_input >/dev/null

# A larger window: the picture stays 640 x 480 at the lower-left corner.
xdotool windowsize "$win" 800 600
until=$(deadline_in 10)
until [[ $("$VELMORA_XWIN" geometry "$win") == *" 800 600" ]]; do
  before "$until" || fail "the window was not resized"
  sleep 0.05
done
sleep 0.3
running "$app_pid" || fail "the program ended after the resize"
match resized >/dev/null

"$VELMORA_XWIN" close "$win"
wait_app_exit 10
[[ $app_rc == 0 ]] || fail "exit code $app_rc, not 0"
echo PASS
