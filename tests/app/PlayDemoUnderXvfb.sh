#!/usr/bin/env bash
# Plays the bundled demo show in a real window on a virtual X display and drives it like a person:
# Right, Left, Space and Escape through xdotool, screenshots of the whole screen through ImageMagick.
# Checks that the window shows a picture (not an empty screen), that Right and Left move the show
# and the picture changes, that Space pauses it (the picture then stands still), and that Escape
# ends the player with exit code 0, its engine stopped and no temporary folder left behind.
#
#   PlayDemoUnderXvfb.sh KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER [SCENARIO]
#
# SCENARIO "keys" (the default) is the above. "close-at-once" presses Escape as soon as the window
# is mapped, while the slides are still being built: exit 0, nothing left behind. "screen-saver"
# starts a copy of the player named "Demo.scr" with "/s": it covers the whole screen and the first
# key ends it with exit 0.
#
# Every wait is a bounded poll for a condition; the time limits only end a run that went wrong.
# Exit 77 (skipped) when xvfb-run, xdotool or ImageMagick are missing.
set -uo pipefail

if [ "${1:-}" != "--inside" ]; then
    for tool in xvfb-run xdotool import compare identify; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    [ $# -eq 4 ] || [ $# -eq 5 ] || { echo "usage: $0 KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER [SCENARIO]" >&2; exit 2; }
    rm -rf "$4" && mkdir -p "$4"
    # A display number of its own: tests of other checkouts may run their virtual displays at once.
    exec xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1920x1080x24" "$0" --inside "$@"
fi
shift
viewer=$1 kivtool=$2 demo=$3 work=$4 scenario=${5:-keys}
log=$work/viewer.log
. "$(dirname "$0")/../support/XvfbSteps.sh"

"$kivtool" pack "$demo" -o "$work/demo.kvshow" --method deflate >/dev/null || fail "the demo was not packed"
player_on_virtual_display "$work"
if [ "$scenario" = screen-saver ]; then
    # A self-contained show under the screen saver's name: the package is appended to the player.
    "$kivtool" pack "$demo" -o "$work/Demo.scr" --method deflate --exe "$viewer" >/dev/null || fail "no screen saver made"
    chmod +x "$work/Demo.scr"
    "$work/Demo.scr" /s -log >"$work/viewer.out" 2>"$log" &
else
    "$viewer" "$work/demo.kvshow" -log >"$work/viewer.out" 2>"$log" &
fi
pid=$!

window=""
find_window() { window=$(xdotool search --onlyvisible --name "kivviewer demo" 2>/dev/null | head -n 1); [ -n "$window" ]; }
wait_for 120 find_window || fail "the show window was never mapped"
xdotool windowfocus --sync "$window" 2>/dev/null || true
ended() { ! kill -0 "$pid" 2>/dev/null; }
# Ends the run: the player must have ended by itself with status 0, its engine stopped, and no
# temporary folder of it left.
finish() {
    wait_for 120 ended || fail "the player did not end after $1"
    wait "$pid"
    local status=$?
    [ "$status" -eq 0 ] || fail "the player ended with status $status after $1"
    grep -q "Show viewer: engine stopped" "$log" || fail "the engine was not stopped on the way out"
    local left
    left=$(find "$TMPDIR/ZORVIK_TEMP_ROOT" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
    [ "$left" -eq 0 ] || fail "$left temporary folders were left behind"
}

if [ "$scenario" = close-at-once ]; then
    xdotool key --window "$window" Escape
    finish "Escape while loading"
    echo "PASS: Escape right after the window appeared ended the player with 0, nothing left behind"
    exit 0
fi

shot=0
# Takes a screenshot of the whole screen into $work/shot-N.png and sets $last to it.
snap() {
    shot=$((shot + 1))
    last=$work/shot-$shot.png
    import -window root "$last" 2>/dev/null
}
# Colours in a picture: one for an empty (black) screen, thousands for a slide.
colours() { identify -format "%k" "$1" 2>/dev/null || echo 0; }
# Pixels that differ between two pictures.
differ() { compare -metric AE "$1" "$2" null: 2>&1 >/dev/null | cut -d' ' -f1; }
shows_a_picture() { snap; [ "$(colours "$last")" -gt 200 ]; }
log_count() { grep -c "$1" "$log" 2>/dev/null || true; }
more_in_log() { [ "$(log_count "$1")" -gt "$2" ]; }
changed_from() { snap; [ "$(differ "$1" "$last")" != "0" ]; }
standing_still() {
    local before=$last
    snap
    [ "$(differ "$before" "$last")" = "0" ]
}

wait_for 120 shows_a_picture || fail "the screen stayed empty"
first=$last
echo "first picture: $(colours "$first") colours"

if [ "$scenario" = screen-saver ]; then
    geometry=$(xdotool getwindowgeometry "$window" | grep Geometry)
    [ "${geometry##* }" = 1920x1080 ] || fail "the screen saver does not cover the screen ($geometry)"
    # Input arrives after the player's first second (mouse events that soon are ignored); any key ends it.
    xdotool key --window "$window" a
    finish "a key in screen-saver mode"
    echo "PASS: the screen saver covered the screen and ended on a key with 0"
    exit 0
fi

seeks=$(log_count "SetPosition Async")
xdotool key --window "$window" Right
wait_for 60 more_in_log "SetPosition Async" "$seeks" || fail "Right did not move the show"
wait_for 60 changed_from "$first" || fail "the picture did not change after Right"
wait_for 60 shows_a_picture || fail "the screen was empty after Right"
after_right=$last

seeks=$(log_count "SetPosition Async")
xdotool key --window "$window" Left
wait_for 60 more_in_log "SetPosition Async" "$seeks" || fail "Left did not move the show"
wait_for 60 changed_from "$after_right" || fail "the picture did not change after Left"
# The show's first slide fades in from black: pause once it shows a picture again.
wait_for 60 shows_a_picture || fail "the screen stayed empty after Left"

pauses=$(log_count "SetPauseEvent Direct: True")
xdotool key --window "$window" space
wait_for 60 more_in_log "SetPauseEvent Direct: True" "$pauses" || fail "Space did not pause the show"
snap
wait_for 60 standing_still || fail "the picture kept moving while paused"
[ "$(colours "$last")" -gt 200 ] || fail "the paused picture is empty"
echo "paused picture stands still: $(colours "$last") colours"

# A second Escape while the first one closes the window finds the close already decided.
xdotool key --window "$window" Escape
xdotool key --window "$window" Escape 2>/dev/null || true
finish "Escape"
grep "late frames" "$log" || true
echo "PASS: window mapped, pictures changed with Right and Left, Space paused, Escape ended with 0"
