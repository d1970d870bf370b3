#!/usr/bin/env bash
# The picture subcommands on a frame pair of the virtual rig, without a display:
# pairs -> calibrate (both formats read back) -> rectify -> disparity, checked against the
# rig's landmarks, and the exit status and single message of a usage error (2), an unreadable
# picture (2) and pictures without a common view (1).
set -euo pipefail
EPIPOLAR=$1 RIG_PICTURES=$2
work=$(mktemp -d /tmp/epipolar_vision_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY "$EPIPOLAR" "$@"; }

"$RIG_PICTURES" left.png right.png || fail "no rig pictures"
"$EPIPOLAR" --print-rig >rig.txt

run pairs left.png right.png >pairs.csv 2>pairs_log.txt || fail "pairs: $(cat pairs_log.txt)"
[ "$(head -n 1 pairs.csv)" = "x0,y0,x1,y1" ] || fail "no CSV header"
count=$(($(wc -l <pairs.csv) - 1))
[ "$count" -ge 200 ] || fail "only $count automatic pairs"
grep -qE "^Automatic pairs: $count added from [0-9]+ matches in [0-9]+\.[0-9] ms$" pairs_log.txt ||
  fail "no summary line: $(cat pairs_log.txt)"
run pairs left.png right.png --format json --max 100 >pairs.json 2>/dev/null || fail "pairs json"

run calibrate pairs.json >from_json.txt 2>/dev/null || fail "calibrate cannot read the pairs JSON"
run calibrate pairs.csv --format json >session.json 2>/dev/null || fail "calibrate cannot read the CSV"
run rectify left.png right.png --calibration session.json --format json \
  --out-left rect0.png --out-right rect1.png >rect.json 2>rect_log.txt || fail "rectify: $(cat rect_log.txt)"
run disparity left.png right.png --calibration session.json --out disp.png >disp.txt 2>disp_log.txt ||
  fail "disparity: $(cat disp_log.txt)"

python3 - "$count" <<'PY' || fail "the outputs do not fit the rig"
import json, re, struct, sys
rows, inside = [], False
for line in open("rig.txt"):
    if line.startswith("Landmarks"):
        inside = True
    elif inside and line.strip():
        rows.append([float(v) for v in re.findall(r"-?\d+\.\d+", line)[-4:]])
pairs = json.load(open("pairs.json"))
assert pairs["pair_count"] == 100 and pairs["inlier_count"] == 100, "--max or the fits"
assert pairs["cameras"][0]["width"] == 640, pairs["cameras"]

def mean_distance(F):
    total = 0.0
    for x0, y0, x1, y1 in rows:
        l1 = [F[3 * r] * x0 + F[3 * r + 1] * y0 + F[3 * r + 2] for r in range(3)]
        l0 = [F[k] * x1 + F[3 + k] * y1 + F[6 + k] for k in range(3)]
        total += (abs(l1[0] * x1 + l1[1] * y1 + l1[2]) / (l1[0] ** 2 + l1[1] ** 2) ** 0.5 +
                  abs(l0[0] * x0 + l0[1] * y0 + l0[2]) / (l0[0] ** 2 + l0[1] ** 2) ** 0.5) / 2
    return total / len(rows)
session = json.load(open("session.json"))
assert session["pair_count"] == int(sys.argv[1]), "calibrate lost pairs of the CSV"
assert mean_distance(session["F"]) < 0.3, "F of the CSV pairs: %.3f px" % mean_distance(session["F"])
from_json = [float(v) for v in open("from_json.txt").read().split()]
assert mean_distance(from_json) < 0.5, "F of the JSON pairs: %.3f px" % mean_distance(from_json)

rect = json.load(open("rect.json"))
assert rect["dy_median_px"] <= 0.3 and rect["dy_p95_px"] <= 1.0, rect
def apply(H, x, y):
    w = H[6] * x + H[7] * y + H[8]
    return (H[0] * x + H[1] * y + H[2]) / w, (H[3] * x + H[4] * y + H[5]) / w
dy = sorted(abs(apply(rect["H0"], a, b)[1] - apply(rect["H1"], c, d)[1]) for a, b, c, d in rows)
assert dy[len(dy) // 2] <= 0.3, "landmark rows %.3f px apart" % dy[len(dy) // 2]

def png_header(path):
    data = open(path, "rb").read(26)
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">IIBB", data[16:26])  # width, height, bit depth, colour type
for path in ("rect0.png", "rect1.png"):
    assert png_header(path) == (rect["width"], rect["height"], 8, 2), (path, png_header(path))
assert png_header("disp.png") == (rect["width"], rect["height"], 8, 2), png_header("disp.png")
assert png_header("disp-raw.png") == (rect["width"], rect["height"], 16, 0), png_header("disp-raw.png")
valid = float(re.search(r"valid at ([\d.]+)%", open("disp.txt").read()).group(1))
assert valid >= 50, "only %.1f%% valid" % valid
print("pairs %s, rows %.3f px apart (median), %.1f%% valid disparities" % (sys.argv[1], dy[len(dy) // 2], valid))
PY

# Failures: the status and one line on standard error, nothing on standard output.
expect_failure() {
  local status=$1
  shift
  local actual=0
  run "$@" >out.txt 2>err.txt || actual=$?
  [ "$actual" = "$status" ] || fail "$* ended with $actual, not $status: $(cat err.txt)"
  [ ! -s out.txt ] || fail "$* wrote to standard output"
  [ "$(wc -l <err.txt)" -ge 1 ] || fail "$* gave no message"
}
expect_failure 2 rectify left.png right.png
expect_failure 2 disparity missing.png right.png --calibration session.json --out x.png
grep -q "missing.png" err.txt || fail "the message does not name the file: $(cat err.txt)"
[ "$(wc -l <err.txt)" = 1 ] || fail "more than one line: $(cat err.txt)"
python3 - <<'PY'
import struct, zlib
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
rows = b"".join(b"\x00" + b"\x80" * 640 * 3 for _ in range(480))
open("flat.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 640, 480, 8, 2, 0, 0, 0)) +
                             chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY
expect_failure 1 pairs left.png flat.png
[ "$(wc -l <err.txt)" = 1 ] || fail "more than one line: $(cat err.txt)"
echo "ok"
