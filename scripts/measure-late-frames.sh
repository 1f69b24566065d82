#!/usr/bin/env bash
# Plays the bundled demo show in a window on a virtual X display for a while (default 60 s) and
# prints the number of late frames the engine counted (it logs "late frames: N of M" when it stops).
# With --prebuilt it plays the show twice: as the player plays it, and with every slide built and
# its pictures uploaded before the clock starts (KIV_PREBUILD_SLIDES=1), so that what the loader
# adds shows as the difference.
#
#   scripts/measure-late-frames.sh [--prebuilt] [SECONDS] [BUILD_FOLDER]
#
# BUILD_FOLDER defaults to build-release (built by ./play.sh); it must hold src/app/kivviewer and
# tools/kivtool/kivtool. Needs xvfb-run and xdotool (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--inside" ]; then
    shift
    seconds=$1 viewer=$2 show=$3 work=$4
    cp "$viewer" "$work/kivviewer"
    "$work/kivviewer" "$show" -filelog >"$work/out.txt" 2>&1 &
    pid=$!
    end=$((SECONDS + 120))
    until xdotool search --onlyvisible --name "kivviewer demo" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || { echo "the window never appeared" >&2; kill "$pid"; exit 1; }
        sleep 0.2
    done
    # The measured minute starts with the window on screen.
    sleep "$seconds"
    xdotool key Escape
    wait "$pid"
    exit $?
fi

both=0
if [ "${1:-}" = "--prebuilt" ]; then
    both=1
    shift
fi
seconds=${1:-60}
build=${2:-build-release}
for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/kivtool/kivtool" pack examples/demo -o "$work/demo.kvshow" --method deflate >/dev/null
play() {
    rm -f "$work/kivviewer.log"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1920x1080x24" "$0" --inside "$seconds" "$build/src/app/kivviewer" "$work/demo.kvshow" "$work"
    # The log is UTF-8 with CR LF line ends, beside the program.
    line=$(tr -d '\r' <"$work/kivviewer.log" | grep -a "late frames" | tail -n 1)
    echo "demo played ${seconds} s under Xvfb$1: ${line#*] }"
    prebuilt=$(tr -d '\r' <"$work/kivviewer.log" | grep -a "prebuilt" | tail -n 1 || true)
    [ -z "$prebuilt" ] || echo "  ${prebuilt#*] }"
}
play ""
if [ "$both" = 1 ]; then
    KIV_PREBUILD_SLIDES=1 play " with every slide prebuilt"
fi
