#!/usr/bin/env bash
# The assisted editing workflow on the virtual rig: mark pairs on known landmarks, drag one
# point away, delete a pair, export, undo both, calibrate and export again; the first session
# file must show exactly the two edits, the second the pairs as marked, each on its landmark,
# with an F that fits them.
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
final = json.load(open("epipolar-session.json"))
pairs = final["pairs"]
assert len(pairs) == 12 and final["pair_count"] == 12, "%d pairs after undoing" % len(pairs)
# Marking clicks are refined onto the corner they aim at, a few pixels from the projection.
for p, t in zip(pairs, truth):
    assert math.hypot(p["x0"] - t[0], p["y0"] - t[1]) < 6 and \
        math.hypot(p["x1"] - t[2], p["y1"] - t[3]) < 6, "a pair is off its landmark: %s" % p
def same(p, q):
    return all(p[k] == q[k] for k in ("x0", "y0", "x1", "y1"))

# After the drag and the delete: pair 3 gone, pair 12's point in (1) 30 px right, the rest as
# they are after both edits were undone.
edited = json.load(open("edited.json"))["pairs"]
assert len(edited) == 11, "%d pairs after the delete" % len(edited)
kept = pairs[:2] + pairs[3:]
assert all(same(p, q) for p, q in zip(edited[:10], kept[:10])), "a pair moved that was not dragged"
moved, before = edited[10], pairs[11]
assert abs(moved["x1"] - before["x1"] - 30) < 1e-9 and moved["y1"] == before["y1"] and \
    moved["x0"] == before["x0"] and moved["y0"] == before["y0"], \
    "the dragged pair is %s, %s before the drag" % (moved, before)

assert len(final["F"]) == 9
worst = max(p["residual_px"] for p in pairs)
print("12 pairs back where they were; largest residual %.2f px" % worst)
assert worst < 3.0, "a residual of %.2f px" % worst
PY
echo "ok"
