#!/bin/sh
# Installs the build into a scratch DESTDIR and checks what lands where: both programs (their
# versions, and the usage after the error when the player has no show), the man pages (gzipped)
# rendered by man without warnings, the desktop entry accepted by desktop-file-validate, the icon
# and the MIME type well-formed for xmllint, and the MIME type mapping "*.kvshow" once the
# database is built.
# Usage: InstallCheck.sh CMAKE BUILD_DIR SCRATCH VERSION. Exit 77 (skipped) without the validators.
set -u
cmake=$1 build=$2 scratch=$3 version=$4
for tool in desktop-file-validate xmllint man update-mime-database; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
fail() { echo "FAIL: $*"; status=1; }
status=0
rm -rf "$scratch" && mkdir -p "$scratch"
DESTDIR="$scratch/root" "$cmake" --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; echo "FAIL: cmake --install"; exit 1; }
root=$scratch/root/usr
for file in bin/kivviewer bin/kivtool share/man/man1/kivviewer.1.gz share/man/man1/kivtool.1.gz \
            share/applications/kivviewer.desktop share/icons/hicolor/scalable/apps/kivviewer.svg \
            share/mime/packages/kivviewer.xml; do
    [ -s "$root/$file" ] || fail "$file not installed"
done
for program in kivviewer kivtool; do
    [ -x "$root/bin/$program" ] || fail "$program is not executable"
    answer=$("$root/bin/$program" --version 2>&1)
    [ "$answer" = "$program $version" ] || fail "$program --version said '$answer'"
done

# No show named, none appended: the error first, then the usage, exit 2.
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$root/bin/kivviewer" >"$scratch/noshow.out" 2>"$scratch/noshow.err"
code=$?
[ $code -eq 2 ] || fail "kivviewer without a show exited $code"
error_line=$(grep -n "Slideshow File not Found" "$scratch/noshow.err" | head -n1 | cut -d: -f1)
usage_line=$(grep -n "^usage: kivviewer" "$scratch/noshow.err" | head -n1 | cut -d: -f1)
if [ -z "$error_line" ] || [ -z "$usage_line" ] || [ "$usage_line" -le "$error_line" ]; then
    cat "$scratch/noshow.err"; fail "no usage after the error"
fi
# A show that is named but missing gets the error alone.
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$root/bin/kivviewer" "$scratch/missing.kvshow" \
    >/dev/null 2>"$scratch/missing.err"
grep -q "^usage:" "$scratch/missing.err" && fail "usage printed although a show was named"

for page in kivviewer kivtool; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/share/man/man1/$page.1.gz" 2>&1 >"$scratch/$page.txt")
    [ -z "$warnings" ] || fail "man warns about $page.1: $warnings"
    grep -q "SYNOPSIS" "$scratch/$page.txt" || fail "$page.1 renders no synopsis"
    # Compressed as Debian wants: no time stamp in the gzip header (bytes 4 to 7), so builds repeat.
    [ "$(od -An -tu4 -j4 -N4 "$root/share/man/man1/$page.1.gz" | tr -d ' ')" = 0 ] ||
        fail "$page.1.gz carries a time stamp"
done
grep -q -- "-render" "$scratch/kivviewer.txt" || fail "kivviewer.1 does not describe -render"

desktop-file-validate "$root/share/applications/kivviewer.desktop" || fail "desktop entry rejected"
grep -q "^MimeType=application/x-kivshow;" "$root/share/applications/kivviewer.desktop" ||
    fail "desktop entry does not open shows"
xmllint --noout "$root/share/icons/hicolor/scalable/apps/kivviewer.svg" || fail "icon is not well-formed"
xmllint --noout "$root/share/mime/packages/kivviewer.xml" || fail "MIME type is not well-formed"
update-mime-database "$root/share/mime" 2>"$scratch/mime.err" || fail "update-mime-database: $(cat "$scratch/mime.err")"
grep -q "application/x-kivshow:\*\.kvshow" "$root/share/mime/globs2" 2>/dev/null || fail "*.kvshow is not mapped"
[ $status -eq 0 ] && echo "installed files check out"
exit $status
