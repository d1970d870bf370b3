#!/usr/bin/env bash
# The assisted mode's files on the virtual rig: the rig's landmarks loaded with --pairs as one
# step, C, then Ctrl+S typed like a user: both files written, no snapshot, and nothing saved
# again at the end because nothing changed since the export.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

"$EPIPOLAR" --print-rig >rig.txt
# Landmark lines end in: camera 0 x y, camera 1 x y.
python3 - <<'PY'
import re
inside = False
with open("pairs.txt", "w") as out:
    for line in open("rig.txt"):
        if line.startswith("Landmarks"):
            inside = True
            continue
        if inside and line.strip():
            out.write(" ".join(re.findall(r"-?\d+\.\d+", line)[-4:]) + "\n")
PY
pairs=$(wc -l <pairs.txt)
[ "$pairs" -ge 20 ] || fail "only $pairs landmarks"

start_app --virtual --assist --pairs pairs.txt
w0=$(wait_window "(0) Virtual camera 0 (left)")
wait_window "(1) Virtual camera 1 (right)" >/dev/null
expect_log_line "Added $pairs pairs from pairs.txt ($pairs in all)"
[ -z "$(window_id "Calibration ready")" ] || fail "a bulk addition raised the box"

timeout 10 xdotool windowfocus --sync "$w0" key c || fail "could not focus window (0)"
wait_log "^Epipole 1: "
# Ctrl, then S while it is held, as a user types Ctrl+S: the export, and no snapshot at any of
# these keys, nor at Shift or another key with Ctrl.
timeout 10 xdotool windowfocus --sync "$w0" keydown ctrl key s key q keyup ctrl key shift ||
  fail "could not type Ctrl+S"
wait_log "^Exported F to epipolar-calibration.yaml$"
expect_log_line "Exported $pairs pairs with F to epipolar-session.json"
# A snapshot would be the next frame's, within 1/30 s.
sleep 1
grep -q "^Writing image" log.txt && fail "a modifier or a Ctrl shortcut wrote a snapshot"
# Any other key still writes one.
xdotool key q
wait_log "^Writing image pic0.bmp$"

python3 - "$pairs" <<'PY' || fail "the session file is not as exported"
import json, sys
session = json.load(open("epipolar-session.json"))
assert session["pair_count"] == int(sys.argv[1]), session["pair_count"]
assert len(session["F"]) == 9 and session["method"] == "accurate"
assert all("residual_px" in p and "inlier" in p for p in session["pairs"])
assert session["cameras"][0] == {"name": "Virtual camera 0 (left)", "width": 640, "height": 480}
text = open("epipolar-calibration.yaml").read()
assert text.startswith("%YAML:1.0\n---\nF: !!opencv-matrix\n"), text
PY

close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"
grep -q "^Saved the edits" log.txt && fail "nothing changed since the export, yet it was saved"
echo "ok"
