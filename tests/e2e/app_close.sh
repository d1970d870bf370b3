#!/usr/bin/env bash
# A first run with an empty cams.conf: no box appears, closing camera window (1) ends the
# program with status 0 and saves "matrixStored=false". Then the same with SIGTERM.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

: >cams.conf
start_app --virtual
wait_window "Ball Display" >/dev/null
wait_window "(0) Virtual camera 0 (left)" >/dev/null
wait_window "(1) Virtual camera 1 (right)" >/dev/null
sleep 1
[ -z "$(window_id "Use data?")" ] || fail "a restore question was asked"
[ -z "$(window_id "Instructions")" ] || fail "the instructions were shown"

close_window "(1) Virtual camera 1 (right)"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
expect_file $'matrixStored=false\n' cams.conf
expect_log_line "Camera 0 is Virtual camera 0 (left)"
expect_log_line "Camera 1 is Virtual camera 1 (right)"
expect_log_line "Total count: 2"

: >cams.conf
start_app --virtual
wait_window "(1) Virtual camera 1 (right)" >/dev/null
kill -TERM "$app_pid"  # (a script's background job ignores SIGINT, so TERM stands in for Ctrl+C)
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status after SIGTERM"
expect_file $'matrixStored=false\n' cams.conf
echo "ok"
