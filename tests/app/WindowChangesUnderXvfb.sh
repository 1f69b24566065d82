#!/usr/bin/env bash
# Plays the bundled demo show in a real window on a virtual X display and changes the window as a
# person would, with the show paused so that only a redraw can change the picture:
#   - resizes it three times (xdotool): after each the window shows the same picture laid out for
#     the new size (the last picture scaled to the new size matches it), never a stale or black one;
#   - F11 puts it full screen and back, a double-click on the picture does the same;
#   - on the last slide, the pointer over the caption of the "Play again" button changes the
#     standing picture (hover), and a click on the caption's glyphs performs the button's action
#     (back to the first slide, which starts black) rather than the show's "next slide" click;
#   - Escape ends the player within 3.5 s with exit code 0.
# The log must not show a renderer that failed to be made.
#
#   WindowChangesUnderXvfb.sh KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER
#
# Every wait is a bounded poll for a condition; the time limits only end a run that went wrong.
# Exit 77 (skipped) when xvfb-run, xdotool or ImageMagick are missing.
set -uo pipefail

if [ "${1:-}" != "--inside" ]; then
    for tool in xvfb-run xdotool import compare identify convert; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    [ $# -eq 4 ] || { echo "usage: $0 KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER" >&2; exit 2; }
    rm -rf "$4" && mkdir -p "$4"
    exec xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1920x1080x24" "$0" --inside "$@"
fi
shift
viewer=$1 kivtool=$2 demo=$3 work=$4
log=$work/viewer.log
. "$(dirname "$0")/../support/XvfbSteps.sh"

"$kivtool" pack "$demo" -o "$work/demo.kvshow" --method deflate >/dev/null || fail "the demo was not packed"
player_on_virtual_display "$work"
"$viewer" "$work/demo.kvshow" -resize -log >"$work/viewer.out" 2>"$log" &
pid=$!

window=""
find_window() { window=$(xdotool search --onlyvisible --name "kivviewer demo" 2>/dev/null | head -n 1); [ -n "$window" ]; }
wait_for 120 find_window || fail "the show window was never mapped"
xdotool windowfocus --sync "$window" 2>/dev/null || true

shot=0
# A picture of the window's contents into $work/shot-N.png; $last names it.
snap() {
    shot=$((shot + 1))
    last=$work/shot-$shot.png
    import -window "$window" "$last" 2>/dev/null
}
colours() { identify -format "%k" "$1" 2>/dev/null || echo 0; }
size_of() { identify -format "%wx%h" "$1" 2>/dev/null; }
mean_of() { convert "$1" -colorspace Gray -format "%[fx:mean]" info: 2>/dev/null || echo 1; }
differ() { compare -metric AE "$1" "$2" null: 2>&1 >/dev/null | cut -d' ' -f1; }
# The normalised root-mean-square difference of two pictures of one size, in thousandths.
rmse() { compare -metric RMSE "$1" "$2" null: 2>&1 >/dev/null | sed -E 's/.*\(([0-9.e+-]+)\).*/\1/' |
    awk '{ printf "%d", $1 * 1000 }'; }
geometry() { xdotool getwindowgeometry "$window" 2>/dev/null | sed -n 's/.*Geometry: //p'; }
shows_a_picture() { snap; [ "$(colours "$last")" -gt 200 ]; }
standing_still() {
    local before=$last
    snap
    [ "$(size_of "$before")" = "$(size_of "$last")" ] && [ "$(differ "$before" "$last")" = "0" ]
}
log_count() { grep -c "$1" "$log" 2>/dev/null || true; }
no_failed_renderer() {
    local bad
    bad=$(log_count "GL context is current on another thread")
    [ "$bad" -eq 0 ] || fail "$bad renderer creations met a context held by another thread"
    bad=$(log_count "create device res= 3")
    [ "$bad" -eq 0 ] || fail "$bad renderers could not be made"
}
# The window is $1 (WxH) and shows the picture it showed before ($2), laid out anew for its size:
# the earlier picture scaled to the new size is close to the new one (a stale or half-black
# window is far from it).
relaid_out() {
    local size=$1 before=$2
    [ "$(geometry)" = "$size" ] || return 1
    snap
    [ "$(size_of "$last")" = "$size" ] || return 1
    [ "$(colours "$last")" -gt 200 ] || return 1
    convert "$before" -resize "$size!" "$work/scaled.png" 2>/dev/null || return 1
    local d
    d=$(rmse "$work/scaled.png" "$last")
    echo "  $size: rmse $d/1000 against the scaled earlier picture"
    [ -n "$d" ] && [ "$d" -lt 90 ]
}

wait_for 120 shows_a_picture || fail "the window stayed empty"
# Paused on a picture: from now on only a redraw changes what the window shows.
xdotool key --window "$window" space
wait_for 60 shows_a_picture || fail "the paused window is empty"
wait_for 60 standing_still || fail "the picture kept moving while paused"
[ "$(colours "$last")" -gt 200 ] || fail "the paused picture is empty"
reference=$last

for size in 1600x900 800x450 1440x810; do
    xdotool windowsize "$window" "${size%x*}" "${size#*x}"
    wait_for 60 relaid_out "$size" "$reference" || fail "after resizing to $size the window shows $(geometry) and not the picture laid out anew"
    reference=$last
    no_failed_renderer
done
echo "three resizes: the picture followed each"

xdotool key --window "$window" F11
wait_for 60 relaid_out 1920x1080 "$reference" || fail "F11 did not put the picture full screen (window $(geometry))"
reference=$last
xdotool key --window "$window" F11
wait_for 60 relaid_out 1280x720 "$reference" || fail "F11 again did not bring the show's window back (window $(geometry))"
reference=$last
no_failed_renderer
echo "F11: full screen and back"

# A double-click on the picture (the demo's click goes to the next slide, so only the window's
# size and a picture are looked at).
xdotool mousemove --window "$window" 640 300
xdotool click --repeat 2 --delay 80 1
is_size() { [ "$(geometry)" = "$1" ] && shows_a_picture && [ "$(size_of "$last")" = "$1" ]; }
wait_for 60 is_size 1920x1080 || fail "a double-click did not put the show full screen (window $(geometry))"
xdotool mousemove --window "$window" 960 400
xdotool click --repeat 2 --delay 80 1
wait_for 60 is_size 1280x720 || fail "a second double-click did not bring the window back (window $(geometry))"
no_failed_renderer
echo "double-click: full screen and back"

# The last slide: the "Play again" button, its caption's "Play" at (570, 577) of the 1280x720
# window, drawn as kivtool draws it. Played on until the button region looks so, then paused.
"$kivtool" slide "$work/demo.kvshow" 14 62000 -o "$work/slide14.png" --size 1280x720 >/dev/null ||
    fail "kivtool did not draw the last slide"
button_box=300x80+490+540
crop() { convert "$1" -crop "$button_box" +repage "$2" 2>/dev/null; }
crop "$work/slide14.png" "$work/button-expected.png"
button_shown() {
    snap
    crop "$last" "$work/button-now.png" || return 1
    local d
    d=$(rmse "$work/button-expected.png" "$work/button-now.png")
    [ -n "$d" ] && [ "$d" -lt 60 ]
}
# End goes to the last slide, still paused; its transition may still hide the button, so the wheel
# seeks on by 700 ms a notch until it shows.
xdotool key --window "$window" End
xdotool mousemove --window "$window" 640 300
notches=0
until wait_for 20 button_shown; do
    notches=$((notches + 1))
    [ "$notches" -le 8 ] || fail "the last slide's button never showed"
    xdotool click 5
done
wait_for 60 standing_still || fail "the last slide does not stand still"
crop "$last" "$work/button-before.png"
xdotool mousemove --window "$window" 570 577
hover_changed() {
    snap
    crop "$last" "$work/button-hover.png" || return 1
    [ "$(differ "$work/button-before.png" "$work/button-hover.png")" != "0" ]
}
wait_for 30 hover_changed || fail "the pointer over the button's caption did not change the button while paused"
echo "hover over the caption while paused: $(differ "$work/button-before.png" "$work/button-hover.png") pixels of the button changed"
bright=$(mean_of "$last")
xdotool click 1
went_back() { snap; awk -v m="$(mean_of "$last")" -v b="$bright" 'BEGIN { exit !(m < b / 3) }'; }
wait_for 60 went_back || fail "a click on the caption did not go back to the first slide (mean $(mean_of "$last") against $bright)"
echo "click on the caption: back to the first slide (mean $(mean_of "$last") against $bright)"

ended() { ! kill -0 "$pid" 2>/dev/null; }
start=$(date +%s%N)
xdotool key --window "$window" Escape
wait_for 60 ended || fail "the player did not end after Escape"
took=$((($(date +%s%N) - start) / 1000000))
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "the player ended with status $status"
[ "$took" -lt 3500 ] || fail "Escape took $took ms to end the player"
no_failed_renderer
echo "PASS: three resizes, F11 and double-click full screen, hover and caption click, Escape ended in $took ms"
