#!/usr/bin/env bash
# Renders the README's pictures of the assisted views on the virtual rig: A, C, R, D in the
# running program, then a screenshot of "Rectified Display" and of "Disparity Display",
# written small to docs/images/rectified.png and docs/images/disparity.png.
# Usage (from the repository):
#   xvfb-run -a -s '-screen 0 1920x1080x24 -noreset' docs/images/render.sh build/epipolar
set -euo pipefail
EPIPOLAR=$(realpath "$1")
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/epipolar_docs_XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; cat log.txt >&2; exit 1; }
window() {
  for _ in $(seq 300); do
    id=$(xdotool search --name "^$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window $1"
}
wait_log() {
  for _ in $(seq 1200); do
    grep -qE -- "$1" log.txt && return 0
    sleep 0.1
  done
  fail "no log line $1"
}
press() { xdotool windowfocus --sync "$1" key "$2"; }

"$EPIPOLAR" --virtual --assist 2>log.txt &
pid=$!
w0=$(window "\\(0\\) ")
sleep 1
press "$w0" a
wait_log "^Automatic pairs: [0-9]+ added"
press "$w0" c
wait_log "^Epipole 1: "
press "$w0" r
rectified=$(window "Rectified Display")
xdotool windowmove "$rectified" 0 0
sleep 3
import -window "$rectified" -resize 800x -colors 96 "PNG8:$out/rectified.png"
press "$w0" d
disparity=$(window "Disparity Display")
xdotool windowmove "$disparity" 0 0
sleep 4
import -window "$disparity" -resize 400x -colors 96 "PNG8:$out/disparity.png"
grep -E "^(Automatic pairs|Rectified view|Disparity view)" log.txt
