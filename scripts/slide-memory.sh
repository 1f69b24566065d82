#!/usr/bin/env bash
# The slide loader's memory figure: peak resident memory of a 200-slide show of one generated
# 24 MP JPEG under 200 names, played through twice by seeking slide by slide (the loader run until
# idle at each slide, as headless playback runs it). Target: at most 600 MB, and less than 1 %
# growth on the second pass. Builds bench/slide_memory in build-release (Release, no tests).
# Usage: scripts/slide-memory.sh [extra slide_memory options, e.g. --slides 50]
set -euo pipefail

cd "$(dirname "$0")/.."
build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target slide_memory

out=$("$build/bench/slide_memory" --slides 200 --passes 2 --picture 6000x4000 --screen 1920x1080 \
    --dir "$build/slide-memory" "$@")
echo "$out"

peak=$(sed -n 's/^peak resident: \([0-9.]*\) MB.*/\1/p' <<<"$out")
growth=$(sed -n 's/.*growth of the last pass over the first: \(-\{0,1\}[0-9.]*\) %.*/\1/p' <<<"$out")
if awk -v p="$peak" -v g="$growth" 'BEGIN { exit !(p <= 600 && g < 1) }'; then
    echo "within the limits (<= 600 MB, < 1 % growth)"
else
    echo "OUTSIDE the limits (<= 600 MB, < 1 % growth)"
    exit 1
fi
