#!/usr/bin/env bash
# The picture of the demo in README: `kivtool frame` draws the frame the player shows at a given
# time of the bundled demo (with the logo and the navigation bar), scaled to half size.
# Usage: scripts/readme-picture.sh [TIME_MS (default 11000)] [OUT.png (default docs/demo.png)]
# Builds kivtool in build-release (Release, no tests) unless KIVTOOL names one.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
time_ms=${1:-11000}
out=${2:-docs/demo.png}
case "$out" in /*) ;; *) out="$root/$out" ;; esac
if [[ -z "${KIVTOOL:-}" ]]; then
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF >/dev/null
    cmake --build build-release -j 2 --target kivtool >/dev/null
    KIVTOOL=$root/build-release/tools/kivtool/kivtool
fi
command -v convert >/dev/null || { echo "readme-picture: convert (ImageMagick) is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$KIVTOOL" pack examples/demo -o "$work/demo.kvshow" --method deflate >/dev/null
"$KIVTOOL" frame "$work/demo.kvshow" "$time_ms" -o "$work/frame.png"
# Half size and a palette keep the file small; -strip leaves out the time stamps, so the same
# frame gives the same file.
convert "$work/frame.png" -resize 50% -strip -colors 255 "PNG8:$out"
echo "readme-picture: $out ($(identify -format %wx%h "$out"), $(( $(stat -c %s "$out") / 1024 )) kB)"
