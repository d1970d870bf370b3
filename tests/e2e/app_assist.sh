#!/usr/bin/env bash
# The assisted editing workflow on the virtual rig: mark pairs on known landmarks, drag one
# point away, delete a pair, undo both, calibrate and export; then the session file must hold
# exactly the marked pairs, each on its landmark, with an F that fits them. A first export
# right after the drag and the delete shows both edits.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

"$EPIPOLAR" --print-rig >rig.txt
python3 - <<'PY'
import re
rows, inside = [], False
for line in open("rig.txt"):
    if line.startswith("Landmarks"):
        inside = True
    elif inside and line.strip():
        rows.append(re.findall(r"-?\d+\.\d+", line)[-4:])
with open("clicks.txt", "w") as out:
    for r in rows[::3][:12]:
        out.write(" ".join(str(round(float(v))) for v in r) + " " + " ".join(r) + "\n")
PY

start_app --virtual --assist
w0=$(wait_window "(0) Virtual camera 0 (left)")
w1=$(wait_window "(1) Virtual camera 1 (right)")

n=0
while read -r x0 y0 x1 y1 _; do
  n=$((n + 1))
  xdotool mousemove --window "$w0" "$x0" "$y0" click 1
  xdotool mousemove --window "$w1" "$x1" "$y1" click 1
  wait_log "^$n points reached$"
  if [ "$n" = 9 ] || [ $((n % 10)) = 0 ]; then answer_box "Calibration ready" Return; fi
done <clicks.txt
[ "$n" = 12 ] || fail "only $n landmarks to click"

# Drag pair 12's point in (1) 30 px to the right; select pair 3 by pressing on it in (0) and
# delete it.
read -r _ _ x1 y1 _ < <(sed -n 12p clicks.txt)
xdotool mousemove --window "$w1" "$x1" "$y1" mousedown 1
for dx in 2 5 10 20 30; do xdotool mousemove --window "$w1" $((x1 + dx)) "$y1"; sleep 0.05; done
xdotool mouseup 1
read -r x0 y0 _ < <(sed -n 3p clicks.txt)
xdotool mousemove --window "$w0" "$x0" "$y0" click 1
timeout 10 xdotool windowfocus --sync "$w0" key Delete ctrl+s || fail "could not type in (0)"
wait_log "^Exported 11 pairs without F to epipolar-session.json$"
cp epipolar-session.json edited.json

timeout 10 xdotool windowfocus --sync "$w1" key ctrl+z ctrl+z c || fail "could not type in (1)"
wait_log "^Epipole 1: "
timeout 10 xdotool windowfocus --sync "$w1" key ctrl+s || fail "could not type in (1)"
wait_log "^Exported 12 pairs with F to epipolar-session.json$"

close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"

python3 - <<'PY' || fail "the exported sessions do not hold the edits"
import json, math
truth = [list(map(float, line.split()[4:])) for line in open("clicks.txt")]
def near(pair, t, limit=1.5):
    return math.hypot(pair["x0"] - t[0], pair["y0"] - t[1]) < limit and \
        math.hypot(pair["x1"] - t[2], pair["y1"] - t[3]) < limit

edited = json.load(open("edited.json"))["pairs"]
assert len(edited) == 11, "%d pairs after the delete" % len(edited)
kept = truth[:2] + truth[3:]
assert all(near(p, t) for p, t in zip(edited[:10], kept[:10])), "a pair moved that was not dragged"
moved = edited[10]
assert abs(moved["x1"] - truth[11][2] - 30) < 1.5 and abs(moved["y1"] - truth[11][3]) < 1.5, \
    "the dragged point is at (%g, %g)" % (moved["x1"], moved["y1"])

final = json.load(open("epipolar-session.json"))
pairs = final["pairs"]
assert len(pairs) == 12 and final["pair_count"] == 12, "%d pairs after undoing" % len(pairs)
assert all(near(p, t) for p, t in zip(pairs, truth)), "the undone edits left a pair elsewhere"
F = final["F"]
assert len(F) == 9
worst = max(p["residual_px"] for p in pairs)
print("12 pairs back on their landmarks; largest residual %.2f px" % worst)
assert worst < 3.0, "a residual of %.2f px" % worst
PY
echo "ok"
