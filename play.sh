#!/usr/bin/env bash
# Builds the player in Release (installing what is missing), packs the bundled demo show into
# build-release/demo.kvshow and plays it in a window until Escape, or plays SHOW when one is given:
#   ./play.sh [SHOW] [SWITCHES...]
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build build-release --target kivviewer kivtool

if [ $# -gt 0 ] && [ "${1:0:1}" != "-" ]; then
    show=$1
    shift
else
    build-release/tools/kivtool/kivtool pack examples/demo -o build-release/demo.kvshow --method deflate
    show=build-release/demo.kvshow
fi
exec build-release/src/app/kivviewer "$show" "$@"
