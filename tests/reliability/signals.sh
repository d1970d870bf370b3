#!/usr/bin/env bash
# Signals against the real program on the virtual rig (under an X server):
#   1. SIGINT during a normal run: one save, status 0;
#   2. SIGINT and SIGTERM at once: still one whole save, status 0;
#   3. SIGTERM and SIGINT while the restore question is open, answered Cancel: the file is
#      untouched and the status 0;
#   4. the same answered Yes to every box: the pending signals end the run with a save of the
#      restored calibration, status 0.
# Usage: signals.sh EPIPOLAR XCLOSE [ROUNDS]  (ROUNDS repeats cases 1 and 2; default 1)
EPIPOLAR=$1 XCLOSE=$2 ROUNDS=${3:-1}
source "$(dirname "$0")/../e2e/app_lib.sh"

# Like start_app, but with the default SIGINT disposition: a script's background job would
# otherwise inherit SIGINT ignored.
start_app_signalled() {
  env --default-signal=INT "$EPIPOLAR" "$@" 2>log.txt &
  app_pid=$!
}

no_leftovers() {
  ! compgen -G '.cams.conf.*' >/dev/null || fail "a temporary file was left behind"
}

for round in $(seq "$ROUNDS"); do
  : >cams.conf
  start_app_signalled --virtual
  wait_window "(1) Virtual camera 1 (right)" >/dev/null
  sleep 0.$((RANDOM % 10))
  kill -INT "$app_pid"
  wait_exit
  [ "$app_status" = 0 ] || fail "round $round: exit status $app_status after SIGINT"
  expect_file $'matrixStored=false\n' cams.conf
  no_leftovers

  : >cams.conf
  start_app_signalled --virtual
  wait_window "(1) Virtual camera 1 (right)" >/dev/null
  sleep 0.$((RANDOM % 10))
  kill -INT "$app_pid"
  kill -TERM "$app_pid" 2>/dev/null || true
  wait_exit
  [ "$app_status" = 0 ] || fail "round $round: exit status $app_status after SIGINT and SIGTERM"
  expect_file $'matrixStored=false\n' cams.conf
  no_leftovers
done

# A stored calibration, written in the order and number format saving uses.
stored="${stored_matrix}"'
[Cam0]
hasPoints=true
pt0x=139.901
pt0y=224.029

[Cam1]
hasPoints=true
pt0x=162.749
pt0y=227.964
'

for answer in Escape Return; do
  printf '%s' "$stored" >cams.conf
  start_app_signalled --virtual
  wait_window "Use data?" >/dev/null
  kill -TERM "$app_pid"
  kill -INT "$app_pid"
  sleep 1
  expect_file "$stored" cams.conf  # nothing is written while the box is open
  if [ "$answer" = Escape ]; then
    answer_box "Use data?" Escape
  else
    answer_box "Use data?" Return "^Point 0: "
    answer_box "Use data?" Return
    answer_box "Instructions" Return
  fi
  wait_exit
  [ "$app_status" = 0 ] || fail "exit status $app_status after signals during a box ($answer)"
  expect_file "$stored" cams.conf
  no_leftovers
done
echo "ok"
