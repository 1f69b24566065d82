#!/usr/bin/env bash
# The picture of the demo in README: `kivtool frame` draws the frames the player shows at four
# times of the bundled demo (with the logo), and ImageMagick lays them out two by two at half size.
# Usage: scripts/readme-picture.sh [OUT.png (default docs/demo.png)] [TIME_MS...]
#   (default times: the title, a masked picture, a 3-D turn, keyframed captions)
# Builds kivtool in build-release (Release, no tests) unless KIVTOOL names one.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/demo.png}
shift || true
times=("$@")
[ ${#times[@]} -gt 0 ] || times=(2500 15000 42000 47000)
case "$out" in /*) ;; *) out="$root/$out" ;; esac
source "$root/scripts/release-kivtool.sh"
for tool in convert montage identify; do
    command -v "$tool" >/dev/null || { echo "readme-picture: $tool (ImageMagick) is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$KIVTOOL" pack examples/demo -o "$work/demo.kvshow" --method deflate >/dev/null
frames=()
for t in "${times[@]}"; do
    "$KIVTOOL" frame "$work/demo.kvshow" "$t" -o "$work/frame-$t.png" >/dev/null
    frames+=("$work/frame-$t.png")
done
# Half size and a palette keep the file small; -strip leaves out the time stamps, so the same
# frames give the same file.
montage "${frames[@]}" -tile 2x -geometry 640x360+2+2 -background '#202020' "$work/sheet.png"
convert "$work/sheet.png" -strip -colors 255 "PNG8:$out"
echo "readme-picture: $out ($(identify -format %wx%h "$out"), $(( $(stat -c %s "$out") / 1024 )) kB)"
