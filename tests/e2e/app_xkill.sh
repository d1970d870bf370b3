#!/usr/bin/env bash
# A window destroyed by another X client (xdotool windowclose: XDestroyWindow) closes as the
# window manager's close does: for "Ball Display" and for camera window (0), the program ends
# with the status and the cams.conf of a normal close, and no X error or sanitizer report.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

# Runs the program on an empty cams.conf, ends it by $1 ("xclose" or "destroy") on window $2,
# and leaves the exit status in app_status.
run_closing() {
  : >cams.conf
  start_app --virtual
  wait_window "Ball Display" >/dev/null
  wait_window "(1) Virtual camera 1 (right)" >/dev/null
  local id
  id=$(wait_window "$2")
  sleep 1  # frames are being drawn into every window when it goes
  if [ "$1" = xclose ]; then
    close_window "$2"
  else
    xdotool windowclose "$id" || fail "xdotool could not destroy \"$2\""
  fi
  wait_exit
  ! grep -qE "X Error|Sanitizer|runtime error" log.txt || fail "$1 of \"$2\" drew an error"
}

for window in "Ball Display" "(0) Virtual camera 0 (left)"; do
  run_closing xclose "$window"
  closed_status=$app_status
  [ "$closed_status" = 0 ] || fail "exit status $closed_status after closing \"$window\""
  cp cams.conf closed.conf
  run_closing destroy "$window"
  [ "$app_status" = "$closed_status" ] ||
    fail "exit status $app_status after \"$window\" was destroyed, $closed_status after a close"
  cmp -s closed.conf cams.conf ||
    fail "cams.conf after \"$window\" was destroyed: $(od -c cams.conf), after a close: $(od -c closed.conf)"
done
echo "ok"
