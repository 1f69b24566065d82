#!/usr/bin/env bash
# Builds the suites that run threads with ThreadSanitizer in build-tsan and runs them: threads and
# queues, the slide loader and engine, the music player and sound device, rendering and picture
# upload, video extraction, and the show viewer with its engine. Not part of ctest: the build is
# separate and slow. Usage: scripts/tsan.sh [-j N] [SUITE ...] (default: every suite below)
# Exit status: 0 when every test passed without a race report.
set -euo pipefail

cd "$(dirname "$0")/.."
jobs=2
if [[ "${1:-}" == "-j" && -n "${2:-}" ]]; then jobs=$2; shift 2; fi
wanted=("$@")

build=build-tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIV_SANITIZE=OFF -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_FUZZ=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null

# The suites with threads: base (threads, events), framework (worker threads and their queues),
# engine (slide loader, engine thread), audio (music player and loader threads, the sound
# device's refill and clock threads), render (the upload of pictures from the loader thread),
# video (frame extractors), viewer (the show viewer driving a real engine thread). A suite that
# does not exist is skipped.
suites=(test_base test_framework test_engine test_audio test_render test_video test_video_draw
    test_video_engine test_viewer test_viewer_engine)
if [[ ${#wanted[@]} -gt 0 ]]; then suites=("${wanted[@]}"); fi
known=$(ninja -C "$build" -t targets all 2>/dev/null || true)
targets=()
for t in "${suites[@]}"; do
    if grep -q "^$t:" <<<"$known"; then targets+=("$t"); fi
done
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
status=0
log="$build/tsan-report.txt"
: >"$log"
run() { # binary [gtest filter]
    local binary=$1 filter=${2:-*}
    echo "== $binary --gtest_filter=$filter" | tee -a "$log"
    if ! "$binary" --gtest_filter="$filter" --gtest_brief=1 >>"$log" 2>&1; then
        status=1
        echo "   FAILED" | tee -a "$log"
    fi
}
for t in "${targets[@]}"; do
    case $t in
        test_base) run "$build/tests/base/test_base" '*Thread*:*Event*:*Sync*' ;;
        test_framework) run "$build/tests/framework/test_framework" '*Thread*:*Queue*:*EventList*' ;;
        test_engine) run "$build/tests/engine/test_engine" ;;
        test_audio) run "$build/tests/audio/test_audio" ;;
        test_render) run "$build/tests/render/test_render" ;;
        test_video) run "$build/tests/video/test_video" ;;
        test_video_draw) run "$build/tests/video/test_video_draw" ;;
        test_video_engine) run "$build/tests/video/test_video_engine" ;;
        test_viewer) run "$build/tests/viewer/test_viewer" ;;
        test_viewer_engine) run "$build/tests/viewer/test_viewer_engine" ;;
    esac
done
races=$(grep -c "WARNING: ThreadSanitizer" "$log" || true)
echo "ThreadSanitizer warnings: $races (full output in $log)"
if [[ "$races" != 0 ]]; then status=1; fi
exit $status
