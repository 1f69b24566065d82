#!/usr/bin/env bash
# Decodes sound files through the player's decoder (kivsoundprobe decode) and through the ffmpeg
# program alone (to 16-bit PCM, one thread, written nowhere), best of three runs each, and prints
# the processor seconds and their ratio (processor time, as the machine may be shared). The files: the demo's MP3 and 60 s of a sweep made by ffmpeg as WAV, Ogg, WMA and AAC.
#
#   scripts/measure-decoders.sh [BUILD_FOLDER]      (default build-release, which must hold
#                                                    tools/soundprobe/kivsoundprobe)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-release}
probe="$build/tools/soundprobe/kivsoundprobe"
[ -x "$probe" ] || { echo "$probe is missing: cmake --build $build --target kivsoundprobe" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing: run scripts/install-deps.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sweep="aevalsrc=0.5*sin(2*PI*(300*t+20*t*t)):d=60:s=44100"
ffmpeg -v error -f lavfi -i "$sweep" -ac 2 -c:a pcm_s16le "$work/sweep.wav"
ffmpeg -v error -f lavfi -i "$sweep" -ac 2 -c:a libvorbis -q:a 5 "$work/sweep.ogg"
ffmpeg -v error -f lavfi -i "$sweep" -ac 2 -c:a wmav2 -b:a 160k "$work/sweep.wma"
ffmpeg -v error -f lavfi -i "$sweep" -ac 2 -c:a aac -b:a 160k "$work/sweep.m4a"
cp examples/demo/music/theme.mp3 "$work/theme.mp3"

# Processor seconds of the decoding: ours as the probe measures it from opening to the end,
# ffmpeg's as its -benchmark reports it (utime + stime).
ours() { "$probe" decode "$1" 2>/dev/null | cut -f6; }
theirs() {
    ffmpeg -nostdin -benchmark -threads 1 -i "$1" -f s16le -c:a pcm_s16le -y /dev/null 2>&1 |
        sed -n 's/.*utime=\([0-9.]*\)s stime=\([0-9.]*\)s.*/\1 \2/p' | awk '{printf "%.4f", $1 + $2}'
}
best() { # the shortest of three runs of "$@"
    local t best=
    for _ in 1 2 3; do
        t=$("$@")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best"
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'FILE\tOURS_S\tFFMPEG_S\tRATIO\n'
for file in theme.mp3 sweep.wav sweep.ogg sweep.wma sweep.m4a; do
    mine=$(best ours "$work/$file")
    alone=$(best theirs "$work/$file")
    printf '%s\t%s\t%s\t%s\n' "$file" "$mine" "$alone" "$(awk "BEGIN{printf \"%.2f\", $mine / $alone}")"
done
