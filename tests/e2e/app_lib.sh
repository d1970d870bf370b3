# Helpers for the end-to-end tests of the program under an X server (DISPLAY set, as under
# xvfb-run). Source this file after setting EPIPOLAR and XCLOSE to the two executables.
#
# Each test runs in a fresh temporary directory that is removed at exit, together with the
# program if it still runs.

set -euo pipefail

work=$(mktemp -d /tmp/epipolar_e2e_XXXXXX)
app_pid=""
cleanup() {
  # Children first: one left behind would keep ctest's output pipe open until the timeout.
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    pkill -9 -P "$app_pid" 2>/dev/null || true
    kill -9 "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  if [ -f log.txt ]; then echo "--- program log:" >&2; cat log.txt >&2; fi
  exit 1
}

# Starts the program with the given arguments; its standard error goes to log.txt.
start_app() {
  "$EPIPOLAR" "$@" 2>log.txt &
  app_pid=$!
}

# The X window id of the first window named exactly $1, or nothing.
window_id() {
  { xwininfo -root -tree | grep -F "\"$1\":" | awk '{print $1}' | head -n 1; } || true
}

# Waits up to $2 seconds (default 20) for a window named $1 and prints its id.
wait_window() {
  local name=$1 limit=${2:-20} id=""
  for _ in $(seq $((limit * 10))); do
    id=$(window_id "$name")
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for \"$name\""
    sleep 0.1
  done
  fail "no window \"$name\" within $limit s"
}

# Waits until the window with X id $1 no longer exists or no longer carries the name $2.
wait_gone() {
  for _ in $(seq 200); do
    xwininfo -id "$1" 2>/dev/null | grep -qF "\"$2\"" || return 0
    sleep 0.1
  done
  fail "window $1 \"$2\" is still there"
}

# Waits up to 20 s for a log line matching the extended regular expression $1.
wait_log() {
  for _ in $(seq 200); do
    grep -qE -- "$1" log.txt && return 0
    sleep 0.1
  done
  fail "no log line matching \"$1\""
}

# Answers the box captioned $1 with key $2 (Return: the first button, Escape: Cancel). Then
# waits for the log line matching $3 if given, otherwise until the box has gone. (A box that
# follows at once may get the same X window id, so only the log tells them apart.)
answer_box() {
  local id
  id=$(wait_window "$1")
  timeout 10 xdotool windowfocus --sync "$id" key "$2" || fail "could not focus the box \"$1\""
  if [ $# -ge 3 ]; then wait_log "$3"; else wait_gone "$id" "$1"; fi
}

# Waits up to $1 seconds for the program to end and sets app_status to its exit status.
app_status=""
wait_exit() {
  local limit=${1:-20}
  for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      app_status=0
      wait "$app_pid" || app_status=$?
      app_pid=""
      return 0
    fi
    sleep 0.1
  done
  fail "the program did not end within $limit s"
}

# Closes the window named $1 the way a window manager's close button does.
close_window() {
  "$XCLOSE" "$1" || fail "no window \"$1\" to close"
}

expect_file() {
  local expected=$1 actual
  actual=$(cat "$2"; echo x)
  actual=${actual%x}
  [ "$actual" = "$expected" ] || fail "$2 reads
$(od -c "$2")
instead of
$(printf '%s' "$expected" | od -c)"
}

expect_log_line() {
  grep -qxF -- "$1" log.txt || fail "no log line \"$1\""
}

# A stored matrix, written in the order and number format saving uses, so that a file built
# from it reads the same after the program saves it again.
stored_matrix='mat0=1.052522e-05
mat1=-5.392074e-05
mat2=-0.021855915
mat3=7.9284659e-05
mat4=-5.5649358e-06
mat5=-0.10344777
mat6=0.01186638
mat7=0.1070068
mat8=0.98854924
matrixStored=true
'
