#!/usr/bin/env bash
# The calibration workflow on the virtual rig: click the rounded projections of known 3D points
# in (0) and (1), close each "Calibration ready" box as it comes, press C, close the view, and
# check the saved F against the rig's true geometry on points that were not clicked. Then
# `epipolar calibrate --method classic` on the same pairs, with no display at all, must log
# exactly what C logged and give the saved F; the accurate method must fit the rig too.
EPIPOLAR=$1 XCLOSE=$2
source "$(dirname "$0")/app_lib.sh"

"$EPIPOLAR" --print-rig >rig.txt
# Landmark lines end in: camera 0 x y, camera 1 x y. Even ones are clicked, odd ones checked.
python3 - <<'PY'
import re
rows = []
inside = False
for line in open("rig.txt"):
    if line.startswith("Landmarks"):
        inside = True
        continue
    if inside and line.strip():
        numbers = re.findall(r"-?\d+\.\d+", line)
        rows.append(numbers[-4:])
clicked = [r for i, r in enumerate(rows) if i % 2 == 0]
fresh = [r for i, r in enumerate(rows) if i % 2 == 1]
with open("clicks.txt", "w") as out:
    for r in clicked:
        out.write(" ".join(str(round(float(v))) for v in r) + "\n")
with open("fresh.txt", "w") as out:
    for r in fresh:
        out.write(" ".join(r) + "\n")
PY
pairs=$(wc -l <clicks.txt)
[ "$pairs" -ge 20 ] || fail "only $pairs landmarks to click"

: >cams.conf
start_app --virtual
w0=$(wait_window "(0) Virtual camera 0 (left)")
w1=$(wait_window "(1) Virtual camera 1 (right)")

n=0
while read -r x0 y0 x1 y1; do
  n=$((n + 1))
  xdotool mousemove --window "$w0" "$x0" "$y0" click 1
  xdotool mousemove --window "$w1" "$x1" "$y1" click 1
  wait_log "^$n points reached$"
  if [ "$n" = 9 ] || [ $((n % 10)) = 0 ]; then
    answer_box "Calibration ready" Return
  fi
done <clicks.txt
[ -z "$(window_id "Calibration ready")" ] || fail "a box is still open"

timeout 10 xdotool windowfocus --sync "$w0" key c || fail "could not focus window (0)"
wait_log "^Epipole 1: "
expect_log_line "Working with $pairs matches"
grep -qE "^Best error: .*, with $pairs inliers$" log.txt || fail "not every click is an inlier"
[ "$(grep -c '^Test results: ' log.txt)" = "$pairs" ] || fail "one test line per pair expected"

close_window "Ball Display"
wait_exit
[ "$app_status" = 0 ] || fail "exit status $app_status"

python3 - <<'PY' || fail "the saved F does not fit the rig"
import math, re
values = {}
for line in open("cams.conf"):
    key, _, value = line.strip().partition("=")
    values[key] = value
assert values.get("matrixStored") == "true", "matrixStored is not true"
F = [[float(values["mat%d" % (3 * r + k)]) for k in range(3)] for r in range(3)]

# Symmetric epipolar distance of fresh landmarks, (x1, y1, 1) F (x0, y0, 1)' = 0.
distances = []
for line in open("fresh.txt"):
    x0, y0, x1, y1 = map(float, line.split())
    l1 = [F[r][0] * x0 + F[r][1] * y0 + F[r][2] for r in range(3)]
    l0 = [F[0][k] * x1 + F[1][k] * y1 + F[2][k] for k in range(3)]
    d1 = abs(l1[0] * x1 + l1[1] * y1 + l1[2]) / math.hypot(l1[0], l1[1])
    d0 = abs(l0[0] * x0 + l0[1] * y0 + l0[2]) / math.hypot(l0[0], l0[1])
    distances.append((d0 + d1) / 2)
mean = sum(distances) / len(distances)
print("mean symmetric epipolar distance on %d fresh points: %.2f px" % (len(distances), mean))
assert mean < 6.0, "mean distance %.2f px" % mean

# Up to scale and sign against the printed true F.
true = []
lines = open("rig.txt").read().split("True fundamental matrix")[1].splitlines()[2:5]
for line in lines:
    true.append([float(v) for v in re.findall(r"-?\d+(?:\.\d+)?(?:e-?\d+)?", line)][-3:])
a = [v for row in F for v in row]
b = [v for row in true for v in row]
cosine = abs(sum(p * q for p, q in zip(a, b))) / math.sqrt(sum(p * p for p in a) * sum(q * q for q in b))
print("|cos| between saved and true F: %.4f" % cosine)
assert cosine > 0.9, "F differs from the true F beyond scale"
PY

# No display and SDL told to use X11: any window or SDL video start would fail.
headless=(env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11)
"${headless[@]}" "$EPIPOLAR" calibrate --method classic clicks.txt >classic.txt 2>classic_log.txt ||
  fail "epipolar calibrate --method classic failed: $(cat classic_log.txt)"
sed -n '/^Working with /,/^Epipole 1: /p' log.txt >gui_calibration.txt
diff gui_calibration.txt classic_log.txt >/dev/null ||
  fail "the classic command's log differs from C's: $(diff gui_calibration.txt classic_log.txt | head)"
python3 - <<'PY' || fail "the classic command's F is not the saved one"
values = dict(line.strip().partition("=")[::2] for line in open("cams.conf") if "=" in line)
printed = [float(v) for v in open("classic.txt").read().split()]
assert len(printed) == 9, printed
for k, v in enumerate(printed):
    assert "%.10g" % v == values["mat%d" % k], (k, v, values["mat%d" % k])
PY

"${headless[@]}" "$EPIPOLAR" calibrate clicks.txt --format json >session.json 2>accurate_log.txt ||
  fail "epipolar calibrate failed: $(cat accurate_log.txt)"
grep -qE "^Accurate calibration: $pairs of $pairs pairs are inliers, " accurate_log.txt ||
  fail "not every click is an accurate inlier: $(head -3 accurate_log.txt)"
python3 - <<'PY' || fail "the accurate F does not fit the rig"
import json, math
F = json.load(open("session.json"))["F"]
distances = []
for line in open("fresh.txt"):
    x0, y0, x1, y1 = map(float, line.split())
    l1 = [F[3 * r] * x0 + F[3 * r + 1] * y0 + F[3 * r + 2] for r in range(3)]
    l0 = [F[k] * x1 + F[3 + k] * y1 + F[6 + k] for k in range(3)]
    d1 = abs(l1[0] * x1 + l1[1] * y1 + l1[2]) / math.hypot(l1[0], l1[1])
    d0 = abs(l0[0] * x0 + l0[1] * y0 + l0[2]) / math.hypot(l0[0], l0[1])
    distances.append((d0 + d1) / 2)
mean = sum(distances) / len(distances)
print("accurate: mean symmetric epipolar distance on fresh points: %.2f px" % mean)
assert mean < 0.5, "mean distance %.2f px" % mean
PY
echo "ok"
