#!/usr/bin/env bash
# The player's own dialogs in real windows on a virtual X display, driven with xdotool like a
# person. The password dialog of a protected show: a wrong password (the case of one letter
# differs) ends the player without showing anything of the show; the right one opens the show.
# The print dialog: a click on a slide's photo (its action is "print" in this copy of the demo)
# pauses the show and shows the dialog; Escape closes it and the show plays on. Screenshots of the
# screen with each dialog are checked to show it (not an empty screen).
#
#   ShowPasswordUnderXvfb.sh KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER
#
# Every wait is a bounded poll for a condition; the time limits only end a run that went wrong.
# Exit 77 (skipped) when xvfb-run, xdotool or ImageMagick are missing.
set -uo pipefail

if [ "${1:-}" != "--inside" ]; then
    for tool in xvfb-run xdotool import identify; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    [ $# -eq 4 ] || { echo "usage: $0 KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER" >&2; exit 2; }
    rm -rf "$4" && mkdir -p "$4"
    exec xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1280x1024x24" "$0" --inside "$@"
fi
shift
viewer=$1 kivtool=$2 demo=$3 work=$4
log=$work/viewer.log
. "$(dirname "$0")/../../support/XvfbSteps.sh"

# The demo, protected: opt_usepass and opt_pass go into its [Main] section.
cp -r "$demo" "$work/locked"
sed -i 's/^\[Main\]\r$/[Main]\r\nopt_usepass=1\r\nopt_pass=Open Sesame 42\r\nopt_lng_password_caption=Demo password\r/' \
    "$work/locked/Project.kiv"
grep -q "opt_usepass=1" "$work/locked/Project.kiv" || fail "the demo project has no [Main] line to protect"
sed -i 's/^\(    ImageName=.*\)\r$/\1\r\n    Action=print\r/' "$work/locked/Project.kiv"
grep -q "Action=print" "$work/locked/Project.kiv" || fail "no photo of the demo got the print action"
"$kivtool" pack "$work/locked" -o "$work/locked.kvshow" --method deflate >/dev/null || fail "the show was not packed"
player_on_virtual_display "$work"

dialog=""
find_dialog() { dialog=$(xdotool search --onlyvisible --name "^Demo password$" 2>/dev/null | head -n 1); [ -n "$dialog" ]; }
show_window() { xdotool search --onlyvisible --name "kivviewer demo" >/dev/null 2>&1; }
ended() { ! kill -0 "$pid" 2>/dev/null; }
colours() { identify -format "%k" "$1" 2>/dev/null || echo 0; }
# Answers the dialog: focus, the text typed, Return.
answer() {
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool type --delay 20 "$1"
    xdotool key Return
}

# 1. The wrong password: the player ends by itself, the show never showed.
"$viewer" "$work/locked.kvshow" -log >"$work/viewer.out" 2>"$log" &
pid=$!
wait_for 120 find_dialog || fail "the password dialog never appeared"
shows_the_dialog() { import -window root "$work/dialog.png" 2>/dev/null; [ "$(colours "$work/dialog.png")" -gt 10 ]; }
wait_for 60 shows_the_dialog || fail "the screen with the dialog stayed empty"
answer "open Sesame 42"
wait_for 60 ended || fail "the player did not end after a wrong password"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "a refused password ended the player with $status"
grep -q "Show password refused" "$log" || fail "the log does not say the password was refused"
grep -q "Show opened" "$log" && fail "the show opened with a wrong password"
grep -q "Open Sesame\|open Sesame" "$log" && fail "the log shows the password"
echo "wrong password: the player ended with 0, nothing of the show shown"

# 2. The right password: the show opens and plays; Escape ends it.
"$viewer" "$work/locked.kvshow" -log >"$work/viewer.out" 2>"$log" &
pid=$!
wait_for 120 find_dialog || fail "the password dialog never appeared the second time"
show_window && fail "the show window is visible before the password was given"
answer "Open Sesame 42"
wait_for 120 show_window || fail "the show did not open after the right password"
shows_a_picture() { import -window root "$work/show.png" 2>/dev/null; [ "$(colours "$work/show.png")" -gt 200 ]; }
wait_for 120 shows_a_picture || fail "the show opened but the screen stayed empty"
window=$(xdotool search --onlyvisible --name "kivviewer demo" | head -n 1)

# The print dialog: clicks in the middle of the window until it appears (clicks in the first second
# are ignored, and one may fall between two slides).
log_count() { grep -c "$1" "$log" 2>/dev/null || true; }
find_print() { dialog=$(xdotool search --onlyvisible --name "^Print$" 2>/dev/null | head -n 1); [ -n "$dialog" ]; }
click_for_print() {
    xdotool mousemove --window "$window" 320 240 click 1 2>/dev/null
    wait_for 5 find_print
}
resumes=$(log_count "SetPauseEvent Direct: False")
wait_for 120 click_for_print || fail "the print dialog never appeared after clicks on the photo"
paused() { grep -q "SetPauseEvent Direct: True" "$log"; }
wait_for 60 paused || fail "the show was not paused for the print dialog"
shows_print() { import -window root "$work/print.png" 2>/dev/null; [ "$(colours "$work/print.png")" -gt 10 ]; }
wait_for 60 shows_print || fail "the screen with the print dialog stayed empty"
grep -q "Print dialog for slide" "$log" || fail "the log does not name the printed slide"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Escape
gone() { ! find_print; }
wait_for 60 gone || fail "Escape did not close the print dialog"
more_resumes() { [ "$(log_count "SetPauseEvent Direct: False")" -gt "$resumes" ]; }
wait_for 60 more_resumes || fail "the show did not play on after the print dialog"
echo "print dialog: shown over the paused show, closed with Escape, the show plays on"

xdotool key --window "$window" Escape
wait_for 120 ended || fail "the player did not end after Escape"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "the player ended with $status"
echo "PASS: the right password opened the show ($(colours "$work/show.png") colours), a wrong one ended the player"
