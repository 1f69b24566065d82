#!/usr/bin/env bash
# Decoding speed of the video sources against FFmpeg's own command: a 720p H.264 clip (10 s at
# 25 fps, made here with the ffmpeg command) is played frame by frame through the frame extractor
# (`kivtool video`, Release build in build-release) and decoded by `ffmpeg -benchmark` with the same
# decoder thread count, in the same run; the best of three runs of each is compared.
#   scripts/measure-video.sh [THREADS...]      (default: 1 2)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
threads=("$@")
[ ${#threads[@]} -gt 0 ] || threads=(1 2)

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF \
    -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-release" --target kivtool -j2 >/dev/null
kivtool="$root/build-release/tools/kivtool/kivtool"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
clip="$work/clip720.mp4"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=10" \
    -c:v libx264 -preset medium -crf 23 -g 50 -bf 2 -pix_fmt yuv420p "$clip"

best() { sort -g | head -n 1; }
printf "%-8s %12s %12s %8s\n" threads "ours (s)" "ffmpeg (s)" ratio
for n in "${threads[@]}"; do
    ours=$(for _ in 1 2 3; do "$kivtool" video "$clip" --threads "$n" | sed -n 's/.* decoded, \([0-9.]*\) s$/\1/p'; done | best)
    ref=$(for _ in 1 2 3; do
        ffmpeg -hide_banner -nostats -benchmark -threads "$n" -i "$clip" -f null - 2>&1 |
            sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p'
    done | best)
    printf "%-8s %12s %12s %8.3f\n" "$n" "$ours" "$ref" "$(echo "$ours / $ref" | bc -l)"
done
