#!/usr/bin/env bash
# A run on a stored calibration: both restore questions and the instructions are answered
# with keys, the view is closed, and the file is saved with the same matrix and points.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

# Written in the order and number format saving uses, so the saved file must read the same.
stored="${stored_matrix}"'
[Cam0]
hasPoints=true
pt0x=139.901
pt0y=224.029
pt10x=47.5
pt10y=409.943
pt1x=238.313
pt1y=212.552

[Cam1]
hasPoints=true
pt0x=162.749
pt0y=227.964
pt10x=41.85
pt10y=427.628
pt1x=267.551
pt1y=213.657
'
printf '%s' "$stored" >cams.conf

start_app --virtual
answer_box "Use data?" Return "^Point 1: "  # the matrix: Yes; the points are read next
answer_box "Use data?" Return             # the points: Yes
answer_box "Instructions" Return          # OK
wait_window "(0) Virtual camera 0 (left)" >/dev/null
expect_log_line "Point 0: (139.901, 224.029) = (162.749, 227.964)"
expect_log_line "Point 1: (238.313, 212.552) = (267.551, 213.657)"
grep -q "^Point 2:" log.txt && fail "point 2 does not exist"

close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
# Points 0 and 1 were restored and saved again; point 10 was never read and stays.
expect_file "$stored" cams.conf
echo "ok"
