#!/usr/bin/env bash
# Makes the pictures, the button theme and the music of the demo show in examples/demo/.
# Run by hand after changing it ("make-demo-assets.sh skin" makes only the bar skin and the logo); its results are committed, so playing the demo needs none of
# its tools. Needs ImageMagick (convert) and sox with MP3 support:
#   apt-get install imagemagick sox libsox-fmt-mp3
set -euo pipefail
cd "$(dirname "$0")/demo"

W=1280
H=720
JPEG=(-strip -interlace none -sampling-factor 4:2:0 -quality 80)
FONT=DejaVu-Sans
FONT_BOLD=DejaVu-Sans-Bold

mkdir -p img music themes/glass

# The navigation bar skin (skin/), the logo (img/logo.png) and the help card (img/help.png);
# "make-demo-assets.sh skin" makes only these.
make_skin() {
mkdir -p skin
# The strip: a dark glass bar of 48 x 48, cut into a left cap, a tiled middle and a right cap.
convert -size 48x48 xc:none -fill '#101828D0' -draw 'roundrectangle 0,0 47,47 14,14' \
    -fill '#FFFFFF20' -draw 'roundrectangle 2,2 45,22 12,12' \
    -fill '#0A1020D0' -draw 'rectangle 16,0 31,47' -fill '#FFFFFF20' -draw 'rectangle 16,2 31,22' \
    PNG32:skin/bar.png
# Button backgrounds of 40 x 40, one column per state: normal (none), hover, pressed, disabled.
convert -size 40x40 xc:none \
    \( -size 40x40 xc:none -fill '#FFFFFF38' -draw 'circle 20,20 20,2' \) \
    \( -size 40x40 xc:none -fill '#5A8CFF90' -draw 'circle 20,20 20,2' \) \
    \( -size 40x40 xc:none \) +append +repage PNG32:skin/btnbg.png
# Glyphs of 32 x 32: one row per action, one column per state.
glyph() { # out colour draw...
    local out=$1 colour=$2
    shift 2
    convert -size 32x32 xc:none -fill "$colour" -stroke none "$@" PNG32:"$out"
}
row() { # out draw...
    local out=$1
    shift
    glyph "$tmpskin/n.png" '#E8EEF8' "$@"
    glyph "$tmpskin/h.png" '#FFFFFF' "$@"
    glyph "$tmpskin/p.png" '#CFE0FF' "$@"
    glyph "$tmpskin/d.png" '#E8EEF860' "$@"
    convert "$tmpskin/n.png" "$tmpskin/h.png" "$tmpskin/p.png" "$tmpskin/d.png" +append +repage PNG32:"$out"
}
tmpskin=$(mktemp -d)
row "$tmpskin/home.png" -draw 'polygon 16,5 28,16 24,16 24,27 19,27 19,20 13,20 13,27 8,27 8,16 4,16'
row "$tmpskin/back.png" -draw 'polygon 6,16 17,7 17,25' -draw 'polygon 16,16 27,7 27,25'
row "$tmpskin/fwd.png" -draw 'polygon 26,16 15,7 15,25' -draw 'polygon 16,16 5,7 5,25'
row "$tmpskin/pause.png" -draw 'rectangle 9,7 13,25' -draw 'rectangle 19,7 23,25'
row "$tmpskin/play.png" -draw 'polygon 10,6 26,16 10,26'
row "$tmpskin/print.png" -draw 'rectangle 10,5 22,11' -draw 'roundrectangle 5,12 27,22 3,3' \
    -draw 'rectangle 10,19 22,27'
row "$tmpskin/help.png" -font DejaVu-Sans-Bold -pointsize 24 -gravity center -annotate +0+1 '?'
row "$tmpskin/exit.png" -stroke '#00000000' -draw 'polygon 8,10 10,8 16,14 22,8 24,10 18,16 24,22 22,24 16,18 10,24 8,22 14,16'
convert "$tmpskin/home.png" "$tmpskin/back.png" "$tmpskin/fwd.png" "$tmpskin/pause.png" \
    "$tmpskin/print.png" "$tmpskin/help.png" "$tmpskin/exit.png" -append +repage PNG32:skin/buttons.png
# The pause button's Play pictures: the same sheet with a play glyph in the pause row.
convert "$tmpskin/home.png" "$tmpskin/back.png" "$tmpskin/fwd.png" "$tmpskin/play.png" \
    "$tmpskin/print.png" "$tmpskin/help.png" "$tmpskin/exit.png" -append +repage PNG32:skin/play.png
rm -rf "$tmpskin"
{
    printf '[Common]\r\nRecommendedScale=8\r\nColsCount=3\r\nRowsCount=1\r\n'
    printf '[CellWithObjects]\r\nCell=2,1\r\nLeftOffset=6\r\nTopOffset=4\r\nRightOffset=2\r\nBottomOffset=4\r\n'
    printf '[Cell(1:1)]\r\nTextureType=stretch\r\nBounds=0,0,16,48\r\nflnm_Texture=bar.png\r\n'
    printf '[Cell(2:1)]\r\nTextureType=repeat\r\nBounds=16,0,16,48\r\nflnm_Texture=bar.png\r\n'
    printf '[Cell(3:1)]\r\nTextureType=stretch\r\nBounds=32,0,16,48\r\nflnm_Texture=bar.png\r\n'
    printf '[Objects]\r\nCount=7\r\n'
    for n in 1 2 3 4 5 6 7; do printf '[Object%d]\r\nSpace=4\r\nShiftPressed=1\r\n' "$n"; done
    row=0
    for action in home backward forward pause print help exit; do
        y=$((row * 32))
        printf '[ACTION-%s]\r\nActionType=%s\r\n' "$action" "$action"
        printf 'flnm_BtnTextureNormal=buttons.png\r\n'
        printf 'BtnTextureNormalBounds=0,%d,32,32\r\nBtnTextureHoverBounds=32,%d,32,32\r\n' "$y" "$y"
        printf 'BtnTexturePressedBounds=64,%d,32,32\r\nBtnTextureDisabledBounds=96,%d,32,32\r\n' "$y" "$y"
        printf 'flnm_BgTextureNormal=btnbg.png\r\n'
        printf 'BgTextureNormalBounds=0,0,40,40\r\nBgTextureHoverBounds=40,0,40,40\r\n'
        printf 'BgTexturePressedBounds=80,0,40,40\r\nBgTextureDisabledBounds=120,0,40,40\r\n'
        if [ "$action" = pause ]; then printf 'flnm_BtnTextureNormalPlay=play.png\r\n'; fi
        row=$((row + 1))
    done
} > skin/navbar.ini
# The help dialog's card: what the bar's buttons do, and how to close it.
convert -size 720x300 xc:none -fill '#101828E8' -draw 'roundrectangle 0,0 719,299 30,30' \
    -fill none -stroke '#FFFFFF50' -strokewidth 2 -draw 'roundrectangle 3,3 716,296 28,28' -stroke none \
    -font DejaVu-Sans-Bold -pointsize 34 -fill '#FFE8C8' -gravity north -annotate +0+28 'Help' \
    -font DejaVu-Sans -pointsize 22 -fill '#E8EEF8' \
    -annotate +0+92 'Move the mouse to show the bar at the bottom:' \
    -annotate +0+126 'first slide, back, pause or play, forward, print, help, exit.' \
    -annotate +0+160 'Left click: next slide.   Right click: previous slide.' \
    -fill '#FFFFFFA0' -annotate +0+228 'Click this card or press Esc to close it.' PNG32:img/help.png
# The logo: a translucent rounded badge with the show's name.
convert -size 360x120 xc:none -fill '#0E1428A0' -draw 'roundrectangle 0,0 359,119 28,28' \
    -fill '#FFFFFF30' -draw 'roundrectangle 4,4 355,58 24,24' \
    -font DejaVu-Sans-Bold -pointsize 44 -fill '#FFE8C8' -gravity center -annotate +0-4 'kivviewer' \
    -font DejaVu-Sans -pointsize 20 -fill '#FFFFFFC0' -annotate +0+38 'demo show' PNG32:img/logo.png
}
if [ "${1:-}" = skin ]; then
    make_skin
    ls -l skin img/logo.png img/help.png
    exit 0
fi

# A soft plasma field in the colours given, blurred so that it compresses well and pans smoothly.
plasma() { # out seed from to
    convert -size ${W}x${H} -seed "$2" "plasma:$3-$4" -blur 0x6 "${JPEG[@]}" "$1"
}

# 1: title card — a warm vertical gradient with a few soft light discs.
convert -size ${W}x${H} gradient:'#1B1F4A'-'#C8553D' \
    \( -size ${W}x${H} xc:none -fill 'rgba(255,230,180,0.18)' \
       -draw 'circle 300,200 300,380' -draw 'circle 980,480 980,700' -draw 'circle 700,120 700,190' \
       -blur 0x30 \) -composite "${JPEG[@]}" img/01-title.jpg

# 2-3: aurora and sunset.
convert -size ${W}x${H} -seed 11 plasma:'#0B3D2E'-'#3FD1A0' -blur 0x14 \
    \( -size ${W}x${H} gradient:'#02040F'-'#1A6B5A' \) -compose multiply -composite \
    -modulate 170,140 "${JPEG[@]}" img/02-aurora.jpg
convert -size ${W}x${H} radial-gradient:'#FFD27A'-'#7A1E3A' -gravity south -crop ${W}x${H}+0+0 +repage \
    \( -size ${W}x260 gradient:'#2A0E1E'-'#12060C' \) -gravity south -composite "${JPEG[@]}" img/03-sunset.jpg

# 4: concentric rings.
convert -size ${W}x${H} xc:'#10162B' -fill none -strokewidth 18 \
    -stroke '#E0B04A' -draw 'circle 640,360 640,60' \
    -stroke '#D9694A' -draw 'circle 640,360 640,120' \
    -stroke '#A0407A' -draw 'circle 640,360 640,180' \
    -stroke '#4A6AD0' -draw 'circle 640,360 640,240' \
    -stroke '#4AC0D0' -draw 'circle 640,360 640,300' \
    -blur 0x3 "${JPEG[@]}" img/04-rings.jpg

# 5: diagonal stripes.
convert -size ${W}x${H} xc:'#1D2D44' -fill '#3E5C76' \
    -draw 'polygon 0,0 160,0 0,160' \
    -draw 'polygon 0,320 320,0 480,0 0,480' -draw 'polygon 0,640 640,0 800,0 0,800' \
    -draw 'polygon 160,720 960,0 1120,0 320,720' -draw 'polygon 480,720 1280,0 1280,160 640,720' \
    -draw 'polygon 800,720 1280,300 1280,460 960,720' -draw 'polygon 1120,720 1280,600 1280,720' \
    -blur 0x2 "${JPEG[@]}" img/05-stripes.jpg

# 6: ocean.
plasma img/06-ocean.jpg 23 '#052A4A' '#3AA0C8'

# 7: coloured tiles.
convert -size 16x9 xc: -seed 7 +noise Random -modulate 100,60 -scale ${W}x${H}! \
    \( -size ${W}x${H} xc:none -stroke '#00000060' -strokewidth 4 \
       -draw "path 'M 0,0 $(for x in $(seq 80 80 1200); do echo -n "M $x,0 L $x,720 "; done)'" \
       -draw "path 'M 0,0 $(for y in $(seq 80 80 640); do echo -n "M 0,$y L 1280,$y "; done)'" \) \
    -composite "${JPEG[@]}" img/07-tiles.jpg

# 8-10: ember, forest, nebula.
plasma img/08-ember.jpg 37 '#3A0A00' '#F08020'
plasma img/09-forest.jpg 41 '#0A2A10' '#7AB050'
convert -size ${W}x${H} -seed 53 plasma:'#1A0830'-'#8040A0' -blur 0x10 \
    \( -size ${W}x${H} xc:black -seed 54 +noise Random -channel G -separate +channel \
       -threshold 99.6% -morphology Dilate Disk:1 -blur 0x0.8 \) -compose screen -composite \
    "${JPEG[@]}" img/10-nebula.jpg

# 11: a card for the caption slide.
convert -size ${W}x${H} gradient:'#243B55'-'#141E30' -font "$FONT_BOLD" -pointsize 64 \
    -fill '#FFFFFF30' -gravity center -annotate +0-80 'pan  ·  zoom  ·  turn  ·  fade' \
    "${JPEG[@]}" img/11-motion.jpg

# 12: dunes — layered sine hills.
convert -size ${W}x${H} gradient:'#F6D8A8'-'#E59A5A' \
    -fill '#D98848' -draw "polygon 0,720 $(for x in $(seq 0 40 1280); do echo -n "$x,$(awk -v x=$x 'BEGIN{printf "%d", 430+50*sin(x/170)}') "; done)1280,720" \
    -fill '#B86A3A' -draw "polygon 0,720 $(for x in $(seq 0 40 1280); do echo -n "$x,$(awk -v x=$x 'BEGIN{printf "%d", 540+40*sin(x/120+1.3)}') "; done)1280,720" \
    -blur 0x1.5 "${JPEG[@]}" img/12-dunes.jpg

# 13: night sky with stars.
convert -size ${W}x${H} gradient:'#02030A'-'#1A2450' \
    \( -size ${W}x${H} xc:black -seed 61 +noise Random -channel R -separate +channel \
       -threshold 99.5% -morphology Dilate Disk:1 -blur 0x0.7 \) -compose screen -composite "${JPEG[@]}" img/13-night.jpg

# 14: closing card.
convert -size ${W}x${H} gradient:'#C8553D'-'#1B1F4A' -font "$FONT_BOLD" -pointsize 110 \
    -fill '#FFF4E0' -gravity center -annotate +0-90 'Thank you' \
    -font "$FONT" -pointsize 34 -fill '#FFE8C8C0' -annotate +0+10 'made with kivviewer' \
    "${JPEG[@]}" img/14-end.jpg

# Mask of the masked picture: a soft white five-pointed star on black (white shows the picture).
star=$(awk 'BEGIN{for(i=0;i<10;i++){r=(i%2==0)?340:150;a=-3.14159265/2+i*3.14159265/5;printf "%d,%d ",360+r*cos(a),370+r*sin(a)}}')
convert -size 720x720 xc:black -fill white -draw "polygon $star" -blur 0x3 -strip -depth 8 PNG24:img/mask-star.png

# Button theme "glass": three faces of 120 x 48, one per state, cut into nine pieces.
face() { # out top bottom
    convert -size 120x48 gradient:"$2"-"$3" \
        \( -size 120x48 xc:black -fill white -draw 'roundrectangle 1,1 118,46 16,16' \) \
        -alpha off -compose copy_opacity -composite -compose over \
        -fill none -stroke '#FFFFFFA0' -strokewidth 2 -draw 'roundrectangle 2,2 117,45 15,15' \
        "$1"
}
face themes/glass/normal.png '#F4F8FF' '#A9C4E8'
face themes/glass/hover.png '#FFFFFF' '#C8DCF6'
face themes/glass/click.png '#A9C4E8' '#7FA2D0'
{
    for state in Normal:normal Hover:hover Click:click; do
        section=${state%%:*}
        file=${state##*:}.png
        printf '[%sState]\r\n' "$section"
        printf 'LeftTop=%s,0,0,18,18\r\n' "$file"
        printf 'Top=%s,18,0,102,18\r\n' "$file"
        printf 'RightTop=%s,102,0,120,18\r\n' "$file"
        printf 'Right=%s,102,18,120,30\r\n' "$file"
        printf 'RightBottom=%s,102,30,120,48\r\n' "$file"
        printf 'Bottom=%s,18,30,102,48\r\n' "$file"
        printf 'LeftBottom=%s,0,30,18,48\r\n' "$file"
        printf 'Left=%s,0,18,18,30\r\n' "$file"
        printf 'Center=%s,18,18,102,30\r\n' "$file"
    done
    printf '[TextParams]\r\nColor=#1E2A3A\r\nBtnOffset=30\r\nBtnMinWidth=250\r\nFiltering=Bilinear\r\n'
} > themes/glass/btn.ini

make_skin

# Music: a slow four-chord pad, 63 seconds (one pass of the show), mono MP3.
chord() { # out seconds notes...
    local out=$1 len=$2
    shift 2
    local voices=()
    for note in "$@"; do voices+=(sine "$note"); done
    sox -n -r 44100 -c 1 "$out" synth "$len" "${voices[@]}" remix - \
        tremolo 0.25 20 fade q 1.2 "$len" 1.2 gain -14
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chord "$tmp/1.wav" 4.5 C3 G3 E4 B4
chord "$tmp/2.wav" 4.5 A2 E3 C4 G4
chord "$tmp/3.wav" 4.5 F2 C3 A3 E4
chord "$tmp/4.wav" 4.5 G2 D3 B3 F#4
parts=()
for _ in 1 2 3 4; do parts+=("$tmp/1.wav" "$tmp/2.wav" "$tmp/3.wav" "$tmp/4.wav"); done
sox "${parts[@]:0:14}" "$tmp/pad.wav" reverb 60 50 80 fade t 2 63 3 norm -3
sox "$tmp/pad.wav" -C 64 music/theme.mp3
ls -l img music themes/glass
