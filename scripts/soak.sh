#!/usr/bin/env bash
# Soak: the player plays a generated, repeating show of 200 large pictures (4000x3000 JPEGs, each
# slide panning and zooming, a dissolve between slides) with looping music, without a display or
# sound card (SDL's offscreen video and dummy audio), in real time for a given time. Every second
# it samples the player's resident memory and thread count from /proc; at the end it reports the
# memory after the first pass of the show, the growth from there to the end, the threads seen,
# and the log's error lines. Builds kivviewer in build-release (Release, no tests).
# Usage: scripts/soak.sh [SECONDS (default 3600)] [SLIDE_MS (default 3000)]
# Writes build-release/soak/samples.csv (seconds, RSS in kB, threads, its anonymous and file-backed
# parts in kB) and the player's log there.
# The environment may change the run (the short soak among the tests does):
#   KIV_SOAK_PLAYER   a kivviewer to play with instead of building one in build-release
#   KIV_SOAK_DIR      the work folder (default build-release/soak)
#   KIV_SOAK_SLIDES   slides in the show (default 200); KIV_SOAK_PICTURE their size (4000x3000)
#   KIV_SOAK_SCREEN   the window (1280x720)
#   KIV_SOAK_MAX_GROWTH  a percentage: exit 1 when the mean memory of the last whole pass exceeds
#                     that of pass KIV_SOAK_BASE_PASS (default 2: the first after the first) by
#                     more, when the thread count held longest in the last whole pass differs
#                     from that of the base pass (a thread that is started anew dips or lifts the
#                     count for a moment; a leaked or lost thread moves the count it holds), when
#                     the log has an error or the player ended early.
set -euo pipefail

cd "$(dirname "$0")/.."
seconds=${1:-3600}
slide_ms=${2:-3000}
slides=${KIV_SOAK_SLIDES:-200}
picture=${KIV_SOAK_PICTURE:-4000x3000}
screen=${KIV_SOAK_SCREEN:-1280x720}
max_growth=${KIV_SOAK_MAX_GROWTH:-}
base_pass=${KIV_SOAK_BASE_PASS:-2}
build=build-release
work=${KIV_SOAK_DIR:-$build/soak}
player=${KIV_SOAK_PLAYER:-}
if [ -z "$player" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j 2 --target kivviewer >/dev/null
    player=$build/src/app/kivviewer
fi

for tool in convert identify ffmpeg; do
    command -v "$tool" >/dev/null || { echo "soak: $tool is needed (skipped)"; exit 77; }
done

# The show: four generated pictures under SLIDES names (each name is its own picture to the player),
# music that repeats, slides of SLIDE_MS with a dissolve of a quarter of that.
show=$work/show
mkdir -p "$show/img" "$show/music"
for i in 0 1 2 3; do
    [ -s "$show/img/base$i.jpg" ] && [ "$(identify -format %wx%h "$show/img/base$i.jpg")" = "$picture" ] ||
        convert -size "$picture" "gradient:hsb(${i}0%,80%,90%)-hsb($((i * 25 + 40))%,70%,30%)" \
            -swirl $((60 + i * 90)) -attenuate 0.4 +noise Gaussian -quality 90 "$show/img/base$i.jpg"
done
[ -s "$show/music/loop.mp3" ] ||
    ffmpeg -v error -y -f lavfi -i "sine=frequency=330:duration=45" -f lavfi -i "sine=frequency=495:duration=45" \
        -filter_complex "[0][1]amix=inputs=2,volume=0.5" -ac 2 -ar 44100 "$show/music/loop.mp3"
{
    printf '[Main]\nopt_title=soak\nopt_scr_width=%d\nopt_scr_height=%d\nopt_scr_full=0\nopt_repeat=repeat\n' \
        "${screen%x*}" "${screen#*x}"
    printf 'opt_pausewheninactive=0\nopt_scr_hidercolor=0\n'
    printf 'object TheEffect:AnEffect\n  time=%d\n  object dissolve:dissolve\n    caption=dissolve\n' $((slide_ms / 4))
    printf '    stdidx=2\n    checked=1\n  end\nend\n'
    printf 'object Music:Music\n  music_disable=0\n  object Options:TMusicOptions\n    IsRepeat=1\n  end\n'
    printf '  object Track1:TMusicTrack\n    IsMute=0\n    object Loop:TMusicItem\n'
    printf '      GUID={5A0C0000-0000-4000-8000-000000000001}\n      FileName=music\\loop.mp3\n'
    printf '      StartTime=0\n      Duration=%d\n      Volume=80\n    end\n  end\nend\n' $((slides * slide_ms))
    printf '[Times]\nopt_slidescount=%d\n' $slides
    for k in $(seq 1 $slides); do printf 'opt_synchpos%d=%d\n' "$k" $((k * slide_ms)); done
    for k in $(seq 1 $slides); do
        name=$(printf 'img\\p%03d.jpg' "$k")
        zoom=$((110 + k % 4 * 10))
        printf '[Slide%d]\nPicture=%s\nPers_EndAction=timer\n' "$k" "$name"
        printf 'object TheEffect:AnEffect\n  ref=dissolve\n  time=%d\nend\n' $((slide_ms / 4))
        printf 'object Container:Root\n  GUID=root%d\n  object Photo:Image\n    GUID=photo%d\n' "$k" "$k"
        printf '    ImageName=%s\n    FitMode=Cover\n    Antialiased=1\n    Filtering=Default\n' "$name"
        printf '      object Begin:KeyPoint\n        Origin=SlideBegin\n        Time=0\n        Opacity=100\n'
        printf '        Position=0,0\n        ScaleX=100\n        ScaleY=100\n        Zoom=%d\n' $zoom
        printf '        OffsX=-80\n        OffsY=0\n      end\n'
        printf '      object Finish:KeyPoint\n        Origin=SlideEnd\n        Time=0\n        Opacity=100\n'
        printf '        Position=0,0\n        ScaleX=100\n        ScaleY=100\n        Zoom=%d\n' $((zoom + 15))
        printf '        OffsX=80\n        OffsY=0\n      end\n  end\nend\n'
    done
} >"$show/Project.kiv"
for k in $(seq 1 $slides); do
    ln -f "$show/img/base$((k % 4)).jpg" "$show/img/$(printf 'p%03d.jpg' "$k")"
done

period=$((slides * slide_ms / 1000))
echo "soak: $slides slides of $slide_ms ms (one pass: $period s), for $seconds s"
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$player" -filename "$show/Project.kiv" -log \
    >"$work/player.out" 2>"$work/player.log" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' EXIT
echo "seconds,rss_kb,threads,anon_kb,file_kb" >"$work/samples.csv"
start=$(date +%s)
while :; do
    now=$(( $(date +%s) - start ))
    [ "$now" -ge "$seconds" ] && break
    status=/proc/$pid/status
    [ -r "$status" ] || { echo "soak: the player ended after $now s"; break; }
    # Resident memory, threads, and the resident memory split into anonymous and file pages.
    line=$(awk '/^(VmRSS|Threads|RssAnon|RssFile):/ {v[$1] = $2}
                END { if (v["VmRSS:"] != "") print v["VmRSS:"] "," v["Threads:"] "," v["RssAnon:"] "," v["RssFile:"] }' \
        "$status" 2>/dev/null || true)
    [ -n "$line" ] && echo "$now,$line" >>"$work/samples.csv"
    sleep 1
done
alive=yes
kill -0 $pid 2>/dev/null || alive=no
kill -TERM $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
trap - EXIT

# The pass ends `period` seconds after the show started (a few seconds of start-up before it).
awk -F, -v first=$((period + 10)) -v alive=$alive '
    NR == 1 { next }
    { last = $2; t = $1; if (min_t == "" || $3 < min_t) min_t = $3; if ($3 > max_t) max_t = $3
      if (first_rss == "" && $1 >= first) first_rss = $2
      if ($1 >= first) { if ($2 > peak_after) peak_after = $2
                         if (min_a == "" || $3 < min_a) min_a = $3; if ($3 > max_a) max_a = $3 } }
    END {
        printf "samples: %d s; player still playing at the end: %s\n", t, alive
        printf "threads: %d to %d\n", min_t, max_t
        if (first_rss == "") { print "the show did not finish its first pass: no growth figure"; exit }
        printf "RSS after the first pass (%d s): %.1f MB; at the end: %.1f MB; highest after: %.1f MB\n", \
            first, first_rss / 1024, last / 1024, peak_after / 1024
        printf "growth after the first pass: %.2f %% (end), %.2f %% (highest)\n", \
            (last - first_rss) * 100 / first_rss, (peak_after - first_rss) * 100 / first_rss
        printf "threads after the first pass: %d to %d\n", min_a, max_a
    }' "$work/samples.csv"
# Memory swings by a few pictures within a pass; whole passes compare like with like.
# A pass is whole when its samples span it (on a busy machine a sample takes a little over a second).
awk -F, -v period=$period 'NR > 1 && $1 >= 10 {
        p = int(($1 - 10) / period) + 1; sum[p] += $2; n[p]++; if ($2 > top[p]) top[p] = $2; last = p
        anon[p] += $4; file[p] += $5; if (!(p in from)) from[p] = $1; to[p] = $1 }
    END { for (p = 1; p <= last; p++)
              printf "pass %d%s: mean %.1f MB (anonymous %.1f, files %.1f), highest %.1f MB\n", p,
                     (to[p] - from[p] < period - 5 ? " (part)" : ""), sum[p] / n[p] / 1024,
                     anon[p] / n[p] / 1024, file[p] / n[p] / 1024, top[p] / 1024 }' "$work/samples.csv"
errors=$(grep -c -i -E "error|exception|assert|failed" "$work/player.log" || true)
echo "log lines with error, exception, assert or failed: $errors (log: $work/player.log)"
grep -i -E "error|exception|assert|failed" "$work/player.log" | head -5 || true

[ -n "$max_growth" ] || exit 0
# The verdict: whole passes after the first compared by their mean memory and the thread count
# each holds longest, a clean log.
status=0
awk -F, -v period=$period -v first=$((period + 10)) -v limit="$max_growth" -v base=$base_pass '
    function steady(pass,   k, parts, best, most) {
        most = -1
        for (k in held) {
            split(k, parts, SUBSEP)
            if (parts[1] != pass) continue
            if (held[k] > most || (held[k] == most && parts[2] + 0 < best)) { most = held[k]; best = parts[2] + 0 }
        }
        return best
    }
    NR > 1 && $1 >= 10 { p = int(($1 - 10) / period) + 1; sum[p] += $2; n[p]++; last = p; t = $1
                         held[p, $3 + 0]++ }
    NR > 1 && $1 >= first { if (lo == "" || $3 < lo) lo = $3; if ($3 > hi) hi = $3 }
    END {
        whole = (t >= 10 + last * period - 2) ? last : last - 1
        if (whole <= base) { printf "FAIL: no whole pass after pass %d\n", base; exit 1 }
        growth = (sum[whole] / n[whole] - sum[base] / n[base]) * 100 / (sum[base] / n[base])
        printf "pass %d to pass %d: %+.2f %% (at most %s %%), threads after the first pass: %d to %d\n", \
            base, whole, growth, limit, lo, hi
        if (growth > limit) { print "FAIL: memory grows"; exit 1 }
        if (steady(whole) != steady(base)) {
            printf "FAIL: %d threads through most of pass %d, %d through most of pass %d\n", \
                steady(base), base, steady(whole), whole
            exit 1
        }
    }' "$work/samples.csv" || status=1
[ "$alive" = yes ] || { echo "FAIL: the player ended early"; status=1; }
[ "$errors" -eq 0 ] || { echo "FAIL: the log has errors"; status=1; }
exit $status
