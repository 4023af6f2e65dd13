#!/usr/bin/env bash
# One session of the real window under a virtual X server, driven by xdotool:
# paint cells with clicks and a drag, type a prefixed value into a material
# row, save and check the file's bytes, load it back, run the model and take
# screenshots of the field view and both graph modes.
#   editor_session.sh PROGRAM OUTPUT_DIR
set -euo pipefail
# shellcheck source=session_common.sh
source "$(dirname "$0")/session_common.sh"
start_session "$1" "$2" 800

# Buttons go through the X server's test extension (no --window), so that
# the server knows a button is held while the pointer moves.
move() { xdotool mousemove --window "$win" "$(px "$1")" "$(py "$2")"; }
click() { # click X Y [BUTTON]
  move "$1" "$2"
  xdotool click "${3:-1}"
  sleep 0.3
}
drag() { # drag X1 Y1 X2 Y2
  move "$1" "$2"
  xdotool mousedown 1
  sleep 0.2
  move "$(( ($1 + $3) / 2 ))" "$(( ($2 + $4) / 2 ))"
  sleep 0.2
  move "$3" "$4"
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
}
type() {
  xdotool type --window "$win" --delay 50 "$1"
  xdotool key --window "$win" Return
  sleep 0.3
}
shot() { import -window root "$1.png"; }

xdotool key --window "$win" q  # into the editor
sleep 0.5
click 70 46              # brush: material 1
click 10 10              # one cell
drag 20 20 30 25         # a rectangle of 11 x 6 cells
click 70 14              # brush: source 1
click 32 32
click 32 32 2            # probe mark on the source cell
click 75 38              # S/m of material 3
type 2.5k
shot editor

click 92 -4              # Save
type model.fdtd
[ -f model.fdtd ] || fail "nothing saved"
/usr/bin/python3 - <<'PY' || fail "saved bytes"
import sys
b = open("model.fdtd", "rb").read()
assert len(b) == 262242 and b[-1] == 6, len(b)
assert b[36:40] == bytes([25, 0, 0, 0xFE]), b[36:40]   # sg of slot 3 = 2500
def cell(X, Y, Z):  # project cell (X, Y, Z) is cube (X, 63 - Y, 63 - Z)
    return b[97 + (X * 64 + 63 - Y) * 64 + 63 - Z]
painted = {(10, 10)} | {(u, v) for u in range(20, 31) for v in range(20, 26)}
for u in range(64):
    for v in range(64):
        want = 0x50 if (u, v) == (32, 32) else (1 if (u, v) in painted else 0)
        assert cell(u, v, 0) == want, (u, v, cell(u, v, 0))
assert sum(1 for c in b[97:-1] if c) == len(painted) + 1
PY

click 72 1               # New: an empty project
click 82 -4              # Load, offering the saved name
type ""
title=$(xdotool getwindowname "$win")
[[ "$title" == *" : model.fdtd" ]] || fail "title after load: $title"
click 92 -4              # Save the loaded project again under another name
xdotool key --window "$win" ctrl+a BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace \
  BackSpace BackSpace BackSpace BackSpace
type again.fdtd
# Byte for byte equal, negative values (source 2's -1 at offset 88) included.
cmp -s model.fdtd again.fdtd || fail "the loaded project differs from the saved one"

click 82 69              # Run
sleep 4
kill -0 "$app" || fail "the program ended after Run"
grep -q "info: FDTD file(model.fdtd) was read from ." console.txt || fail "no load message"
[ "$(grep -c -- '- calculation parameters' console.txt)" = 2 ] || fail "no second set-up"
shot field
xdotool key --window "$win" w
sleep 1
shot time
xdotool key --window "$win" f
sleep 2
shot frequency
for s in editor field time frequency; do
  lit=$(convert "$s.png" -colorspace Gray -threshold 5% -format '%[fx:mean]' info:)
  awk -v m="$lit" 'BEGIN{exit !(m > 0.005)}' || fail "$s.png is blank"
done
echo "editor session passed"
