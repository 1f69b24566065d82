#!/usr/bin/env bash
# A contact sheet of every transition family: a small show is generated (two pictures, one slide
# per family entering over the slide before it), `kivtool frame` draws each transition at 25, 50
# and 75 % of its time, and ImageMagick's montage lays the frames out, one family per row.
# Usage: scripts/transition-sheet.sh [OUT.png] [WIDTHxHEIGHT]
#   (default docs/transitions.png, frames of 320x180; a size of another shape than the show's
#   16:9 draws each frame letterboxed, as a window of that shape shows the show)
# Builds kivtool in build-release (Release, no tests) unless KIVTOOL names one.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/transitions.png}
size=${2:-320x180}
[[ $size =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || { echo "transition-sheet: size $size is not WIDTHxHEIGHT" >&2; exit 2; }
case "$out" in /*) ;; *) out="$root/$out" ;; esac
source "$root/scripts/release-kivtool.sh"
for tool in convert montage python3; do
    command -v "$tool" >/dev/null || { echo "transition-sheet: $tool is needed" >&2; exit 1; }
done

# A font every ImageMagick with fontconfig finds (its default, Helvetica, is often missing).
font=${SHEET_FONT:-DejaVu-Sans}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
show=$work/show
mkdir -p "$show/img"

# The two slides: a warm and a cool picture with a grid and a big letter, so that the geometry of
# each transition shows.
picture() { # NAME FROM TO LETTER
    convert -size 640x360 "gradient:$2-$3" \
        \( -size 640x360 xc:none -stroke 'rgba(255,255,255,0.35)' -strokewidth 2 \
           -draw "path 'M 0,90 L 640,90 M 0,180 L 640,180 M 0,270 L 640,270'" \
           -draw "path 'M 160,0 L 160,360 M 320,0 L 320,360 M 480,0 L 480,360'" \) -composite \
        -font "$font" -fill white -stroke black -strokewidth 3 -pointsize 200 -gravity center -annotate +0+0 "$4" \
        "$show/img/$1"
}
picture a.png '#f0a030' '#a02010' A
picture b.png '#30a0f0' '#102070' B

families=(dissolve hourhand shapes gates page mosaic push slide curling flip swap crossing)
{
    printf '[Main]\nopt_title=transition sheet\nopt_scr_width=640\nopt_scr_height=360\n'
    printf 'opt_repeat=stop\nopt_bstyle=1\nopt_bcolor=0\n'
    cat <<'EOF'
object TheEffect:AnEffect
  time=1000
  object dissolve:dissolve
    stdidx=2
    checked=1
  end
  object hourhand:hourhand
    stdidx=4
    key=action,direction
    action=10
    direction=000010000
    smoothline=0.2
  end
  object shapes:shapes
    stdidx=5
    key=action,direction
    action=01
    direction=100
    centerx=50
    centery=50
    smoothline=0.15
  end
  object gates:gates
    stdidx=6
    key=direction
    direction=00001000
    smoothline=0.1
  end
  object page:page
    stdidx=7
    key=direction
    direction=00000001
    smoothline=0.1
  end
  object mosaic:mosaic
    stdidx=8
    checked=1
    cols=8
    rows=6
    appearence=50
  end
  object push:push
    stdidx=9
    key=direction
    direction=1000
  end
  object slide:slide
    stdidx=10
    key=direction
    direction=0100
  end
  object curling:curling
    stdidx=11
    key=action,direction
    action=10
    direction=10000000
    usecolor=0
    usevolume=1
    pipe=1
    radius=0.1
    3dvolume=0.125
  end
  object flip:flip
    stdidx=12
    key=direction
    direction=1000
    spin_center=0
    nonlinear_speed=1
    3dvolume=0.5
  end
  object swap:swap
    stdidx=13
    key=direction
    direction=1000
    depth=4
    distance=1
    angle=60
  end
  object crossing:custom
    checked=1
    sectionfield=checked
    slide_1=crossing
  end
end
EOF
    count=$((${#families[@]} + 1))
    printf '[Times]\nopt_slidescount=%d\n' "$count"
    for ((k = 1; k <= count; k++)); do printf 'opt_synchpos%d=%d\n' "$k" $((k * 2500)); done
    for ((k = 1; k <= count; k++)); do
        if ((k == 1)); then ref=quick; else ref=${families[k - 2]}; fi
        if ((k % 2 == 1)); then pic=a.png; else pic=b.png; fi
        printf '[Slide%d]\nobject TheEffect:AnEffect\n  ref=%s\n  time=1000\nend\n' "$k" "$ref"
        printf 'object Container:Root\n  GUID={5A1D0000-0000-4000-8000-%012d}\n' "$k"
        printf '  object Photo:Image\n    GUID={5A1D0000-0000-4000-8001-%012d}\n' "$k"
        printf '    ImageName=img\\%s\n    FitMode=Cover\n  end\nend\n' "$pic"
    done
    cat <<'EOF'
[effect_crossing]
CustomEffTime=1000
opt_scr_width=640
opt_scr_height=360
object Container:Root
  GUID={5A1D0000-0000-4000-8002-000000000001}
  object Leaving:Image
    GUID={5A1D0000-0000-4000-8002-000000000002}
    ReplaceWithEffectBuffer=1
    FitMode=None
    object Begin:KeyPoint
      Time=0
      ScaleX=100
      ScaleY=100
    end
    object End:KeyPoint
      Time=1000
      ScaleX=70
      ScaleY=70
    end
  end
  object Coming:Image
    GUID={5A1D0000-0000-4000-8002-000000000003}
    ReplaceWithEffectBuffer=2
    FitMode=None
    object Begin:KeyPoint
      Time=0
      Opacity=0
      ScaleX=130
      ScaleY=130
    end
    object End:KeyPoint
      Time=1000
      Opacity=100
      ScaleX=100
      ScaleY=100
    end
  end
end
EOF
} | sed 's/$/\r/' >"$show/Project.kiv"

"$KIVTOOL" pack "$show" -o "$work/sheet.kvshow" >/dev/null
# Slide k + 1 enters with family k: its transition starts at the slide's start.
"$KIVTOOL" timeline "$work/sheet.kvshow" >"$work/timeline.json"
frames=()
k=0
for family in "${families[@]}"; do
    k=$((k + 1))
    for percent in 25 50 75; do
        t=$(python3 -c "import json,sys; s=json.load(open(sys.argv[1]))['slides'][int(sys.argv[2])]; \
print(round(s['start'] + s['transition'] * int(sys.argv[3]) / 100))" "$work/timeline.json" "$k" "$percent")
        frame=$work/$(printf '%02d' "$k")-$family-$percent.png
        SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} "$KIVTOOL" frame "$work/sheet.kvshow" "$t" -o "$frame" \
            --size "$size" --no-overlay >/dev/null
        frames+=(-label "$family $percent %" "$frame")
    done
done
mkdir -p "$(dirname "$out")"
montage "${frames[@]}" -tile 3x -geometry "$size+4+4" -font "$font" -pointsize 14 -background '#202020' -fill white "$out"
echo "$out"
