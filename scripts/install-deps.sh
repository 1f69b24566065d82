#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and fuzzing need, when any is missing.
# Runs as root, or through sudo for a normal user. One list for every script of the project.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git ccache
    zlib1g-dev libsdl2-dev libepoxy-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
    libjpeg62-turbo-dev libpng-dev libgif-dev liblcms2-dev libmpg123-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
    libfreetype-dev libharfbuzz-dev libfontconfig-dev libexiv2-dev fonts-liberation fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    unicode-data
    xvfb xauth xdotool imagemagick
    clang libclang-rt-14-dev
    libcups2-dev # dialogs: printing through CUPS
    libfribidi-dev # text: mixed-direction lines
    ffmpeg # the demo's video clip (examples/demo/make-clip.sh); the sound tests encode WMA, AAC, Ogg, MP3 and FLAC files with it; the decoder figures
    libsystemd-dev dbus playerctl desktop-file-utils libxml2-utils shared-mime-info man-db mmdebstrap # linux: MPRIS, export checks, install checks, deb-check
    libsndfile1-dev libvorbis-dev # sound: ADPCM WAV through libsndfile, Ogg Vorbis through libvorbisfile
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
