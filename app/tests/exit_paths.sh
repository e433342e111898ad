#!/usr/bin/env bash
# How the program ends after its window is closed: at end of input it ends
# at once, and with the noprompt flag (either spelling) it prints no prompt
# and does not wait for input.  An Err.txt that is a FIFO or a link is left
# alone: the program neither waits for a reader nor writes through the link.
source "$(dirname "$0")/lib.sh"

start_xvfb

close_and_expect() {  # seconds allowed, expected standard-output tail or ""
  local win
  win=$(wait_window)
  wait_fps_title "$win" >/dev/null
  "$VELMORA_XWIN" close "$win"
  wait_app_exit "$1"
  [[ $app_rc == 0 ]] || fail "exit code $app_rc, not 0"
}

# End of input: the prompt is printed and the program ends without a character.
STDIN=null start_app
close_and_expect 10
stdout_ends_with "$prompt" || fail "no prompt at end of input"
echo "ok: end of input"

# noprompt: input stays open, yet the program ends at once without a prompt.
for flag in -noprompt --noprompt; do
  start_app "$flag"
  close_and_expect 10
  close_stdin
  ! grep -q 'Press ENTER' "$work/stdout" || fail "prompt printed with $flag"
  echo "ok: $flag"
done

rm -f "$work/Err.txt"
mkfifo "$work/Err.txt"
STDIN=null start_app
close_and_expect 10
[[ -p $work/Err.txt ]] || fail "Err.txt is no longer a FIFO"
rm "$work/Err.txt"
echo "keep me" >"$work/precious"
ln -s precious "$work/Err.txt"
STDIN=null start_app
close_and_expect 10
[[ $(cat "$work/precious") == "keep me" && -L $work/Err.txt ]] || fail "Err.txt's link was followed"
echo "ok: Err.txt as a FIFO and as a link"
echo PASS
