#!/usr/bin/env bash
# The real window under a virtual X server, driven by xdotool, where a new
# user goes wrong: a number the entry refuses, a Run the set-up refuses (the
# reason shown, the editor and every key still working, the run before it
# kept), a Save that fails
# (the reason shown) and New with unsaved changes (asked first; the title
# marks the changes).
#   refusals_session.sh PROGRAM OUTPUT_DIR
set -euo pipefail
# shellcheck source=session_common.sh
source "$(dirname "$0")/session_common.sh"
start_session "$1" "$2" 400

click() { # click X Y [BUTTON]
  xdotool mousemove --window "$win" "$(px "$1")" "$(py "$2")"
  xdotool click "${3:-1}"
  sleep 0.3
}
key() {
  xdotool key --window "$win" "$@"
  sleep 0.3
}
type() {
  xdotool type --window "$win" --delay 50 "$1"
  key Return
}
shot() { import -window root "$1.png"; }
title() { xdotool getwindowname "$win"; }
# Share of the notice box's reddish text pixels (panel y 60.5 to 64.5).
noticeShown() {
  local m
  m=$(convert "$1.png" -crop 800x28+0+73 +repage \
        -fx '(r>0.85 && g>0.4 && g<0.7 && b>0.3 && b<0.6) ? 1 : 0' -format '%[fx:mean]' info:)
  awk -v m="$m" 'BEGIN{exit !(m > 0.002)}'
}
differ() { # differ A B: the screenshots are not the same picture
  local n
  n=$(compare -metric AE "$1.png" "$2.png" null: 2>&1 || true)
  [ "${n%% *}" != 0 ]
}

key q                     # into the editor
[[ "$(title)" != *" *" ]] || fail "a fresh project is marked as changed: $(title)"
click 70 46               # brush: material 1
click 10 10               # one cell of material 1
[[ "$(title)" == *" *" ]] || fail "the title does not mark the change: $(title)"

# 1. The entry refuses er = 0 and keeps the old value; 5.8e7 is read whole.
click 85 46               # er of material 1
type 0
grep -q 'error: "0" must be above zero; the value is kept.' console.txt || fail "no refusal"
shot entry_refused
noticeShown entry_refused || fail "the refusal is not shown in the window"
click 75 38               # S/m of material 3
type 5.8e7

# 2. Save, spoil er of slot 1 in the file, load it and Run: refused.
click 92 -4
key $(printf "BackSpace %.0s" $(seq 16))
type good.fdtd
[ -f good.fdtd ] || fail "nothing saved"
[[ "$(title)" == *" : good.fdtd" ]] || fail "title after save: $(title)"
/usr/bin/python3 - <<'PY' || fail "saved bytes"
b = bytearray(open("good.fdtd", "rb").read())
assert b[36:40] == bytes([58, 0, 0, 2]), list(b[36:40])   # sg of slot 3 = 5.8e7
assert b[16:20] != bytes(4)                                # er of slot 1 kept
b[16:20] = bytes(4)                                        # er of slot 1 = 0
open("bad.fdtd", "wb").write(b)
PY
click 82 -4               # Load
key $(printf "BackSpace %.0s" $(seq 16))
type bad.fdtd
[[ "$(title)" == *" : bad.fdtd" ]] || fail "title after load: $(title)"
click 82 69               # Run
sleep 1
kill -0 "$app" || fail "the program ended after the refused Run"
grep -q "error: material (1) needs finite values with positive er and ur." console.txt ||
  fail "no set-up message"
shot run_refused
noticeShown run_refused || fail "the refused Run's reason is not shown"
# The editor answers: the arrow moves the layer marker, the project is intact.
key Up
shot after_up
differ run_refused after_up || fail "the editor does not answer the arrow key"
click 92 69               # Cancel: back to the run before, stopped
sleep 0.5
shot cancelled
differ after_up cancelled || fail "Cancel changed nothing"
key r                     # which goes on
sleep 1.5
key s
sleep 0.5
shot resumed
differ cancelled resumed || fail "the run before the refused one does not go on"
key q                     # back to the editor
shot editor_again
differ cancelled editor_again || fail "q did not return to the editor"

# 3. A Save that fails shows its reason.
click 92 -4
key $(printf "BackSpace %.0s" $(seq 16))
type no/such/folder/x.fdtd
grep -q "^error: .*no/such/folder/x.fdtd" console.txt || fail "no save error on the console"
shot save_failed
noticeShown save_failed || fail "the Save error is not shown in the window"

# 4. New asks while there are unsaved changes; n keeps them, y discards.
click 70 42               # brush: material 2
click 12 12
[[ "$(title)" == *" *" ]] || fail "no change mark: $(title)"
click 72 1                # New
shot new_asked
key n
[[ "$(title)" == *" *" ]] || fail "n discarded the changes: $(title)"
click 72 1
key y
[[ "$(title)" != *" *" ]] || fail "y did not start a new project: $(title)"
click 92 -4               # the new project saves to an empty cube
key $(printf "BackSpace %.0s" $(seq 16))
type empty.fdtd
/usr/bin/python3 -c "
b = open('empty.fdtd', 'rb').read()
assert not any(b[97:-1]), 'cells left after New'" || fail "New kept cells"

# 5. A Run of a good model still starts after all this.
click 85 46
type 4.7
click 82 69
sleep 2
grep -c -- '- calculation parameters' console.txt | grep -q '^2$' || fail "no second set-up"
shot running
echo "refusals session passed"
