#!/bin/sh
# Builds the Debian package (Release, through CPack) and installs it into a fresh Debian 12
# system made with mmdebstrap, where the demo plays headlessly for two seconds. Needs root (or
# mmdebstrap's unshare mode), the network to reach Debian's mirror, and about 10 minutes.
# Usage: scripts/deb-check.sh [BUILD_DIR]   (default build-deb)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-deb}
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-deb-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target kivviewer kivtool package_files
(cd "$build" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$build"/kivviewer_*.deb | head -n1)
echo "package: $deb"
dpkg-deb --field "$deb" Depends
"$build/tools/kivtool/kivtool" pack "$here/examples/demo" -o "$work/demo.kvshow" --method deflate >/dev/null

mode=root
[ "$(id -u)" -eq 0 ] || mode=unshare
# The chroot installs the package with apt (which fetches its dependencies), plays the demo for
# two seconds at 25 frames per second into PNG frames and into a video, and counts the frames.
mmdebstrap --mode=$mode --variant=apt --format=directory bookworm "$work/root" \
    --customize-hook="copy-in $deb $work/demo.kvshow /tmp" \
    --customize-hook='chroot "$1" sh -c "apt-get install -y -q --no-install-recommends /tmp/kivviewer_*.deb >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }"' \
    --customize-hook='chroot "$1" sh -c "kivviewer --version && kivtool info /tmp/demo.kvshow"' \
    --customize-hook='chroot "$1" sh -c "SDL_AUDIODRIVER=dummy kivviewer /tmp/demo.kvshow -render /tmp/frames -to 2000"' \
    --customize-hook='chroot "$1" sh -c "ls -d /usr/share/applications/kivviewer.desktop /usr/share/man/man1/kivviewer.1* /usr/share/mime/packages/kivviewer.xml /usr/share/icons/hicolor/scalable/apps/kivviewer.svg"' \
    --customize-hook='chroot "$1" sh -c "kivviewer /tmp/demo.kvshow -render /tmp/demo.webm -to 2000 -size 640x360 && test -s /tmp/demo.webm && ls -l /tmp/demo.webm"' \
    --customize-hook='n=$(ls "$1/tmp/frames" | grep -c "^frame-[0-9]*\.png$"); echo "frames rendered in the chroot: $n"; test "$n" -eq 50'
echo "deb-check passed"
