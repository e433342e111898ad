# Sourced by ./run and by the window tests: one way to start a private
# virtual X server.
#
# start_private_xvfb FOLDER starts Xvfb with a 1024 x 768 x 24 screen on a
# display number it picks itself (no window manager, no TCP), keeping its
# log and display number in FOLDER.  It sets xvfb_pid (the caller stops it)
# and exports DISPLAY; if the server does not start within 20 s it prints
# the server's log on standard error and returns 1.
start_private_xvfb() {
  local folder=$1 i
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for ((i = 0; i < 400; i++)); do
    if grep -qs '^[0-9]' "$folder/display"; then
      export DISPLAY=":$(head -n 1 "$folder/display")"
      return 0
    fi
    [[ -r /proc/$xvfb_pid/stat && $(cut -d ' ' -f 3 "/proc/$xvfb_pid/stat") != Z ]] || break
    sleep 0.05
  done
  echo "Xvfb did not start: $(cat "$folder/xvfb.log")" >&2
  return 1
}
