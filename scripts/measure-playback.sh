#!/usr/bin/env bash
# Playback figures at 1280 x 720 in one run: the first frame of a 20-slide show of 24-megapixel
# pictures against decoding the pictures it waits for (goal <= 1.5 x), and frames per second of
# the headless driver on the demo (without and with PNG writing) against bench_render's bare GL
# loop at the same size.
#
#   scripts/measure-playback.sh [BUILD_FOLDER]
#
# BUILD_FOLDER defaults to build-release; it is configured with the benchmarks (Release, no tests)
# and bench_playback and bench_render are built in it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_playback bench_render >/dev/null
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
plain() { sed 's/\x1b\[[0-9;]*m//g'; }
playback=$("$build/bench/bench_playback" | plain)
bare=$("$build/bench/bench_render" --benchmark_filter=BM_BareGL --benchmark_repetitions=5 | plain)
echo "$playback" | grep -E "^first frame|^headless|^with PNG"
bare_ms=$(echo "$bare" | awk '/BM_BareGL.*_median/ {print $2}')
frame_ms=$(echo "$playback" | awk '/^headless playback/ {gsub(/[(]/, "", $6); print $6}')
echo "bare GL loop 1280x720 (50 blended 256x256 quads): ${bare_ms} ms a frame"
awk -v f="$frame_ms" -v b="$bare_ms" 'BEGIN { if (f > 0 && b > 0) printf "headless frame / bare loop frame = %.2f\n", f / b }'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
