#!/usr/bin/env bash
# Makes the demo's video clip (video/clip.mp4): four seconds of FFmpeg's moving test pattern with
# its frame counter, 480 × 270 at 25 frames per second in H.264, and a soft beep at every full
# second in AAC, so that picture and sound can be checked against each other. Needs the ffmpeg
# command (package ffmpeg). The clip is committed; run this only to make it again.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p video
ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=480x270:rate=25:duration=4" \
    -f lavfi -i "sine=frequency=660:beep_factor=2:sample_rate=44100:duration=4,volume=0.25" \
    -c:v libx264 -preset slow -crf 30 -pix_fmt yuv420p -g 25 -bf 2 \
    -c:a aac -b:a 48k -ac 1 \
    -movflags +faststart -shortest video/clip.mp4
size=$(stat -c %s video/clip.mp4)
echo "video/clip.mp4: $size bytes"
[ "$size" -le 300000 ] || { echo "make-clip: the clip is larger than 300 kB" >&2; exit 1; }
