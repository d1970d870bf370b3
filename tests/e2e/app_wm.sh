#!/usr/bin/env bash
# Under a window manager that gives the focus on click (openbox), as on a desktop: marking
# pairs alternates between the camera windows, so every click lands on a window without the
# focus, and each must still count; the "Calibration ready" box opens and is answered. Then
# camera window (0) is destroyed by another client (xdotool windowclose): the program ends as
# after a close, although the window manager's clean-up makes the lost window look shown.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

command -v openbox >/dev/null || fail "openbox is not installed"
openbox --sm-disable >openbox.log 2>&1 &
wm_pid=$!
# The display is shared with the tests after this one: the window manager goes with the test.
stop_wm() {
  kill "$wm_pid" 2>/dev/null || true
  wait "$wm_pid" 2>/dev/null || true
  xprop -root -remove _NET_SUPPORTING_WM_CHECK 2>/dev/null || true
  cleanup
}
trap stop_wm EXIT
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done

: >cams.conf
start_app --virtual
w0=$(wait_window "(0) Virtual camera 0 (left)")
w1=$(wait_window "(1) Virtual camera 1 (right)")
for n in $(seq 9); do
  xdotool mousemove --window "$w0" $((50 * n)) 200 click 1
  sleep 0.2
  xdotool mousemove --window "$w1" $((50 * n + 10)) 200 click 1
  sleep 0.2
done
wait_log "^9 points reached$"
answer_box "Calibration ready" Return
sleep 1  # frames are being drawn into the window when it goes
xdotool windowclose "$w0" || fail "xdotool could not destroy camera window (0)"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
! grep -qE "X Error|Sanitizer|runtime error" log.txt || fail "the destroyed window drew an error"
echo "ok"
