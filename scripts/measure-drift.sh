#!/usr/bin/env bash
# Plays a show's sound in real time (default: the bundled demo, for one hour) on SDL's disk audio
# driver, which writes what the mixer produced to a file at the device's pace, and prints every
# second the play clock, the frames the device consumed, the wall clock and the frames in the file,
# then the drift of the play clock against the frames played and against the wall clock.
#
#   scripts/measure-drift.sh [SECONDS] [BUILD_FOLDER] [SHOW]
#
# SECONDS defaults to 3600; BUILD_FOLDER to build-test (it must hold tools/kivtool/kivtool and
# tools/soundprobe/kivsoundprobe); SHOW to the demo, packed first. DRIVER=dummy plays on SDL's
# dummy driver instead (no file then).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
build=${2:-build-test}
show=${3:-}
driver=${DRIVER:-disk}
for tool in "$build/tools/kivtool/kivtool" "$build/tools/soundprobe/kivsoundprobe"; do
    [ -x "$tool" ] || { echo "$tool is missing: build it first (cmake --build $build --target kivtool kivsoundprobe)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$show" ]; then
    show="$work/demo.kvshow"
    "$build/tools/kivtool/kivtool" pack examples/demo -o "$show" --method deflate >/dev/null
fi
echo "playing $show for $seconds s on the $driver driver; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# The disk driver's file grows by 176 400 bytes a second: it lives in the temporary folder.
SDL_AUDIODRIVER=$driver SDL_DISKAUDIOFILE="$work/device.raw" ASAN_OPTIONS=detect_leaks=0 \
    "$build/tools/soundprobe/kivsoundprobe" drift "$show" "$seconds" 2> >(grep -v -e "Estimating duration" -e "disk i/o" -e "Writing to file" >&2)
