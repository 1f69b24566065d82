#!/usr/bin/env bash
# Builds the player in Release (installing what is missing) and plays SHOW, or the bundled demo.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build build-release --target kivviewer kivtool

if [ $# -gt 0 ]; then
    show=$1
    shift
else
    show=examples/demo/Project.kiv
fi
exec build-release/src/app/kivviewer "$show" "$@"
