#!/usr/bin/env bash
# Builds every libFuzzer target (as fuzz.sh does) and runs each one in turn, niced, until it has
# made RUNS executions or SECONDS have passed, then prints a table of executions, time and crashes
# per target. Crash inputs (and inputs slower than 10 s) are kept in build-fuzz/fuzz-all/TARGET/crashes/.
#   scripts/fuzz-all.sh [SECONDS] [RUNS] [TARGET ...]    defaults: 600 s, 1000000 runs, all targets
# Exit status: 0 when no target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
runs=${2:-1000000}
shift $(( $# > 2 ? 2 : $# ))

scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIV_BUILD_FUZZ=ON -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    mapfile -t targets < <(ninja -C build-fuzz -t targets all | sed -n 's/^fuzz_\([a-z_0-9]*\): .*/\1/p' | sort)
fi
nice cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"

out=build-fuzz/fuzz-all
mkdir -p "$out"
table="$out/table.txt"
printf '%-18s %12s %8s %8s\n' target execs seconds crashes >"$table"
status=0
for t in "${targets[@]}"; do
    work="$out/$t"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/crashes"
    if [[ -d "fuzz/corpus/$t" ]]; then cp -r "fuzz/corpus/$t/." "$work/corpus/"; fi
    # The GIF clip target shares the GIF pictures' seeds.
    if [[ $t == gif_video ]]; then cp -r fuzz/corpus/gif/. "$work/corpus/"; fi
    start=$(date +%s)
    set +e
    nice -n 10 "build-fuzz/fuzz/fuzz_$t" -runs="$runs" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=25 -print_final_stats=1 -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/log.txt" 2>&1
    code=$?
    set -e
    elapsed=$(( $(date +%s) - start ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt" | tail -1)
    # Slow inputs are kept there too (slow-unit-*) but are no crashes.
    crashes=$(find "$work/crashes" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    if [[ $code -ne 0 && $crashes -eq 0 ]]; then crashes=1; fi # died without leaving an input
    if [[ $crashes -ne 0 ]]; then status=1; fi
    printf '%-18s %12s %8s %8s\n' "$t" "${execs:-?}" "$elapsed" "$crashes" | tee -a "$table"
done
echo
cat "$table"
exit $status
