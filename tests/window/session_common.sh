# Shared start of the window sessions, sourced by each session script with
# the program, the output folder and the samples to record:
#   start_session PROGRAM OUTPUT_DIR STEPS
# Starts a virtual X server and the program under it, waits for its window
# and leaves `program`, `app` (its process), `win` (its window) and DISPLAY
# set, inside OUTPUT_DIR. fail, px and py serve the session's own steps.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}

start_session() {
  program=$(realpath "$1")
  rm -rf "$2"
  mkdir -p "$2"
  cd "$2"
  # The X server picks a free display itself and writes its number to fd 3.
  Xvfb -displayfd 3 -screen 0 800x640x24 3>display.txt >xvfb.log 2>&1 &
  xvfb=$!
  trap cleanup EXIT
  for _ in $(seq 50); do [ -s display.txt ] && break; sleep 0.1; done
  [ -s display.txt ] || fail "Xvfb did not start"
  DISPLAY=:$(head -1 display.txt)
  export DISPLAY

  "$program" -n "$3" >console.txt 2>&1 &
  app=$!
  win=""
  for _ in $(seq 300); do
    win=$(xdotool search --name '^TAVRO' 2>/dev/null | head -1 || true)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "no window"
  sleep 1
}

# Window pixel of panel point (x, y) for the 800 x 640 window: the overlay
# plane lies 100 units in front of a 45-degree camera, 7.725 pixels a unit;
# the pick rounds down from a quarter unit left and three quarters below.
px() { awk -v x="$1" 'BEGIN{printf "%d", 400 + (x + 0.5 - 50.3125) * 400 / 51.7767}'; }
py() { awk -v y="$1" 'BEGIN{printf "%d", 320 - (y + 0.5 - 32.75) * 320 / 41.4214}'; }
