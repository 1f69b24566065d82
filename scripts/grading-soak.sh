#!/usr/bin/env bash
# The drawer's colour-table textures over a loop of the demo with a colour filter on every
# picture: bench/grading_soak plays it headlessly for SECONDS of show time (default 1800, the demo
# is 63 s long, so about 28 passes) and prints the counts every 15 s. Passes when the counts of the
# last sample are no higher than the highest of the second pass. Builds grading_soak in
# build-release (Release, no tests) unless GRADING_SOAK names one.
# Usage: scripts/grading-soak.sh [SECONDS]
set -euo pipefail

cd "$(dirname "$0")/.."
seconds=${1:-1800}
soak=${GRADING_SOAK:-}
if [[ -z "$soak" ]]; then
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=ON >/dev/null
    cmake --build build-release -j 2 --target grading_soak >/dev/null
    soak=build-release/bench/grading_soak
fi
out=$(SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} "$soak" --seconds "$seconds" --every 15)
echo "$out"
# The second pass of the 63-second demo runs from 63 to 126 s.
awk -F'\t' 'NR > 1 && $1 + 0 >= 63 && $1 + 0 < 126 { if ($2 > g) g = $2; if ($3 > r) r = $3 }
    NR > 1 { lg = $2; lr = $3; t = $1 }
    END {
        if (t < 126) { print "too short for a second pass"; exit 1 }
        printf "second pass at most: %d grading textures, %d screen resources; last (%s s): %d, %d\n", g, r, t, lg, lr
        if (lg > g || lr > r) { print "GROWING"; exit 1 }
        print "flat"
    }' <<<"$out"
