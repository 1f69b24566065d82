#!/usr/bin/env bash
# Decoding speed of the video sources against FFmpeg's own command: a 720p H.264 clip (10 s at
# 25 fps, made here with the ffmpeg command) is played frame by frame through the frame extractor
# (`kivtool video`, Release build in build-release) and decoded by `ffmpeg -benchmark` with the same
# decoder thread count, in the same run; the best of three runs of each is compared. Then a 720p
# show of one slide filled by that clip is rendered headlessly at 25 fps (`kivviewer -render`):
# frames per second and the share of the time spent waiting for video frames.
#   scripts/measure-video.sh [THREADS...]      (default: 1 2)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
threads=("$@")
[ ${#threads[@]} -gt 0 ] || threads=(1 2)

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF \
    -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-release" --target kivtool kivviewer -j2 >/dev/null
kivtool="$root/build-release/tools/kivtool/kivtool"
kivviewer="$root/build-release/src/app/kivviewer"

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

# The render: one 10-second slide whose video object fills the 1280 × 720 design.
show="$work/show"
mkdir -p "$show/video"
cp "$clip" "$show/video/clip720.mp4"
cat >"$show/Project.kiv" <<'KIV'
[Main]
opt_scr_width=1280
opt_scr_height=720
opt_scr_full=0
opt_repeat=stop
[Times]
opt_slidescount=1
opt_synchpos1=10000
[Slide1]
bstyle=1
bcolor=0
Pers_EndAction=timer
object Container:Root
  GUID=root1
  object Clip:Video
    GUID=clip
    FileName=video\clip720.mp4
    object Shown:KeyPoint
      Origin=SlideBegin
      Time=0
      Opacity=100
      Position=0,0
      ScaleX=100
      ScaleY=100
    end
  end
end
KIV
"$kivtool" pack "$show" -o "$work/show.kvshow" >/dev/null
echo
echo "render of a 720p slide with the clip, 25 fps, 10 s:"
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$kivviewer" "$work/show.kvshow" -render "$work/frames" \
    -size 1280x720 -fps 25 2>&1 | tr '\r' '\n' | grep -E 'fps|waiting' | tail -n 2
