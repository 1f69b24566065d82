#!/usr/bin/env bash
# The question before a show's program runs, in a real window on a virtual X display, answered
# with xdotool like a person. A copy of the demo starts "/usr/bin/touch A B" with its first slide
# and "/usr/bin/ld.so /usr/bin/touch C" with its second:
#   1. the player asks "Run /usr/bin/touch with 2 arguments?"; Don't run: A and B are never made,
#      and the loader of slide 2 is refused without a question;
#   2. asked again in a new run, Run: A and B are made;
#   3. with -noprograms nothing is asked and nothing runs.
# A screenshot of the question is written to WORK_FOLDER/consent.png (and to SHOT when given).
#
#   ProgramConsentUnderXvfb.sh KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER [SHOT]
#
# Every wait is a bounded poll for a condition; the time limits only end a run that went wrong.
# Exit 77 (skipped) when xvfb-run, xdotool or ImageMagick are missing.
set -uo pipefail

if [ "${1:-}" != "--inside" ]; then
    for tool in xvfb-run xdotool import identify; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    [ $# -ge 4 ] || { echo "usage: $0 KIVVIEWER KIVTOOL DEMO_FOLDER WORK_FOLDER [SHOT]" >&2; exit 2; }
    rm -rf "$4" && mkdir -p "$4"
    exec xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1280x1024x24" "$0" --inside "$@"
fi
shift
viewer=$1 kivtool=$2 demo=$3 work=$4 shot=${5:-}
log=$work/viewer.log
. "$(dirname "$0")/../../support/XvfbSteps.sh"

cp -r "$demo" "$work/show"
sed -i "s|^\[Slide1\]\r\$|[Slide1]\r\nPers_RunApp=1\r\nRunAppFN=/usr/bin/touch $work/mark-a $work/mark-b\r|" "$work/show/Project.kiv"
sed -i "s|^\[Slide2\]\r\$|[Slide2]\r\nPers_RunApp=1\r\nRunAppFN=/usr/bin/ld.so /usr/bin/touch $work/mark-loader\r|" "$work/show/Project.kiv"
grep -q "RunAppFN=/usr/bin/ld.so" "$work/show/Project.kiv" || fail "the demo project got no programs"
"$kivtool" pack "$work/show" -o "$work/programs.kvshow" --method deflate >/dev/null || fail "the show was not packed"
player_on_virtual_display "$work"

dialog=""
find_dialog() { dialog=$(xdotool search --onlyvisible --name "^Allow the show\?$" 2>/dev/null | head -n 1); [ -n "$dialog" ]; }
show_window() { xdotool search --onlyvisible --name "kivviewer demo" 2>/dev/null | head -n 1; }
ended() { ! kill -0 "$pid" 2>/dev/null; }
colours() { identify -format "%k" "$1" 2>/dev/null || echo 0; }
logged() { grep -q "$1" "$log"; }
finish() {
    local window
    window=$(show_window)
    [ -n "$window" ] && xdotool key --window "$window" Escape
    wait_for 120 ended || fail "the player did not end after Escape"
    wait "$pid"
    local status=$?
    [ "$status" -eq 0 ] || fail "the player ended with $status"
}

# 1. Don't run.
"$viewer" "$work/programs.kvshow" -log >"$work/viewer.out" 2>"$log" &
pid=$!
wait_for 120 find_dialog || fail "the question never appeared"
# The dialog's own window: its face, text and buttons give more than a few colours.
shows_the_dialog() { import -window "$dialog" "$work/consent.png" 2>/dev/null; [ "$(colours "$work/consent.png")" -gt 10 ]; }
wait_for 60 shows_the_dialog || fail "the screen with the question stayed empty"
# The whole screen as the user sees it, the question above the show.
[ -n "$shot" ] && import -window root "$shot" 2>/dev/null
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Escape
wait_for 60 logged "Program not started (the user said not to run" || fail "Don't run was not logged"
wait_for 120 logged "Program refused (a dynamic loader" || fail "the loader of slide 2 was not refused"
find_dialog && fail "a second question came for the same show"
[ -e "$work/mark-a" ] || [ -e "$work/mark-b" ] || [ -e "$work/mark-loader" ] && fail "a program ran"
finish
echo "Don't run: nothing ran, the loader was refused without a question"

# 2. Run (the focus is on Don't run: Shift+Tab goes to Run).
"$viewer" "$work/programs.kvshow" -log >"$work/viewer.out" 2>"$log" &
pid=$!
wait_for 120 find_dialog || fail "the question never appeared the second time"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key shift+Tab Return
made() { [ -e "$work/mark-a" ] && [ -e "$work/mark-b" ]; }
wait_for 60 made || fail "Run did not run the program"
grep -q "Started: /usr/bin/touch $work/mark-a $work/mark-b" "$log" || fail "the start is not logged as it ran"
finish
rm -f "$work/mark-a" "$work/mark-b"
echo "Run: the program ran with its two arguments"

# 3. -noprograms: no question, nothing runs.
"$viewer" "$work/programs.kvshow" -log -noprograms >"$work/viewer.out" 2>"$log" &
pid=$!
wait_for 120 logged "Program not started (programs are off)" || fail "-noprograms did not refuse the program"
find_dialog && fail "-noprograms asked"
finish
[ -e "$work/mark-a" ] || [ -e "$work/mark-loader" ] && fail "a program ran with -noprograms"
echo "PASS: the question named the program ($(colours "$work/consent.png") colours); Don't run, Run and -noprograms held"
