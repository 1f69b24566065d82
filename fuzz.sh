#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one for a while:
#   ./fuzz.sh TARGET [SECONDS]     e.g. ./fuzz.sh color_value 60
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIV_BUILD_FUZZ=ON -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz
[ $# -ge 1 ] || { ls build-fuzz/fuzz/ | grep '^fuzz_' ; exit 0; }
target=$1
seconds=${2:-60}
work=$(mktemp -d)
cp -r "fuzz/corpus/$target/." "$work/"
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" "$work"
