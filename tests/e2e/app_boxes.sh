#!/usr/bin/env bash
# Where the program's boxes open: each lies wholly on the screen, centred over its owner when
# the owner is shown and centred on the screen otherwise; and the No button of a Yes/No/Cancel
# box, clicked where it is drawn on the screen, answers No.
#   run 1: both restore questions answered No by clicking; "WRONG!!!" (owned by camera window
#          (1)) and "Calibration ready" (owned by "Ball Display") answered with Return;
#   run 2: the matrix question answered Yes; then "Instructions";
#   run 3: the matrix question's connection to the X server killed (xdotool windowkill, as
#          xkill does): the box could not answer, which reads as No, and the program goes on.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

read -r screen_w screen_h < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')

# Prints x y w h of the window with X id $1, in screen coordinates.
geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}'
}

# Waits for the box captioned $1 and checks it lies inside the screen with its centre within
# 16 px of ($2, $3). Sets box_id and box_x box_y box_w box_h.
check_box() {
  box_id=$(wait_window "$1")
  read -r box_x box_y box_w box_h < <(geometry "$box_id")
  ((box_x >= 0 && box_y >= 0 && box_x + box_w <= screen_w && box_y + box_h <= screen_h)) ||
    fail "\"$1\" at ${box_w}x${box_h}+${box_x}+${box_y} is not wholly on the ${screen_w}x${screen_h} screen"
  local dx=$((box_x + box_w / 2 - $2)) dy=$((box_y + box_h / 2 - $3))
  ((dx * dx + dy * dy <= 16 * 16)) ||
    fail "\"$1\" at ${box_w}x${box_h}+${box_x}+${box_y} is not centred on ($2, $3)"
}

# Clicks the middle button of the box checked last where the screen shows it: the rows of
# the buttons' colour (105, 102, 99) in the column a little right of the box's centre, past
# the button's label.
click_middle_button() {
  local column=$((box_x + box_w / 2 + box_w / 16)) row
  import -window root -crop "1x${box_h}+${column}+${box_y}" +repage -depth 8 rgb:column.rgb
  row=$(python3 -c '
data = open("column.rgb", "rb").read()
rows = [i // 3 for i in range(0, len(data) - 2, 3) if tuple(data[i:i + 3]) == (105, 102, 99)]
print(rows[len(rows) // 2] if len(rows) >= 8 else "")')
  [ -n "$row" ] || fail "no button found in the box $box_id"
  xdotool mousemove "$((box_x + box_w / 2))" "$((box_y + row))" click 1
}

# Run 1.
printf '%s' "${stored_matrix}"'
[Cam0]
hasPoints=true
pt0x=139.901
pt0y=224.029
pt1x=238.313
pt1y=212.552

[Cam1]
hasPoints=true
pt0x=162.749
pt0y=227.964
pt1x=267.551
pt1y=213.657
' >cams.conf
start_app --virtual
# "Ball Display" owns the restore questions; it is not shown yet, so they are centred on the
# screen.
check_box "Use data?" $((screen_w / 2)) $((screen_h / 2))
click_middle_button
wait_log "^Point 1: "  # the points are read after the matrix question
check_box "Use data?" $((screen_w / 2)) $((screen_h / 2))
click_middle_button

w0=$(wait_window "(0) Virtual camera 0 (left)")
w1=$(wait_window "(1) Virtual camera 1 (right)")
read -r x1 y1 wd1 ht1 < <(geometry "$w1")
xdotool mousemove --window "$w1" 100 100 click 2
check_box "WRONG!!!" $((x1 + wd1 / 2)) $((y1 + ht1 / 2))
answer_box "WRONG!!!" Return

# Nine pairs; with the stored points refused, the count starts at 1.
for n in $(seq 9); do
  xdotool mousemove --window "$w0" $((40 * n)) 200 click 1 mousemove --window "$w1" $((40 * n + 10)) 200 click 1
done
wait_log "^9 points reached$"
grep -qx "1 points reached" log.txt || fail "the stored points were not refused"
read -r xv yv wv hv < <(geometry "$(wait_window "Ball Display")")
check_box "Calibration ready" $((xv + wv / 2)) $((yv + hv / 2))
answer_box "Calibration ready" Return

close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
# No to the matrix: saved as not calibrated (Cancel would have left the file as it was).
grep -qx "matrixStored=false" cams.conf || fail "the matrix question was not answered No"

# Run 2.
printf '%s' "${stored_matrix}" >cams.conf
start_app --virtual
answer_box "Use data?" Return "^Epipole 1: "
check_box "Instructions" $((screen_w / 2)) $((screen_h / 2))
answer_box "Instructions" Return
wait_window "(1) Virtual camera 1 (right)" >/dev/null
close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
grep -qx "matrixStored=true" cams.conf || fail "the matrix question was not answered Yes"

# Run 3.
printf '%s' "${stored_matrix}" >cams.conf
start_app --virtual
xdotool windowkill "$(wait_window "Use data?")"
wait_log '^Message box "Use data\?" could not be shown: '
wait_window "(1) Virtual camera 1 (right)" >/dev/null
close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status after the box's connection was killed"
grep -qx "matrixStored=false" cams.conf || fail "a killed box did not read as No"
echo "ok"
