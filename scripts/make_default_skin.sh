#!/bin/bash
# Draws the "Default" skin's images (toolbar buttons, status panel buttons, activity animation)
# with ImageMagick into data/Skins/Default. Our own drawings: simple shapes, drawn without
# antialiasing on the key colour #FF00FF, which the program makes transparent (bitmaps have no alpha).
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/data/Skins/Default"
mkdir -p "$out"
S=24
base=(-size ${S}x${S} xc:'#ff00ff' +antialias -strokewidth 1.5)
draw() { # name, then -draw arguments
    local name=$1; shift
    convert "${base[@]}" "$@" "BMP3:$out/$name"
}
# A page with a folded corner and a plus.
draw new.bmp -fill '#ffffff' -stroke '#1d3b5c' -draw 'polygon 5,2 15,2 20,7 20,22 5,22' \
    -fill '#cfe3f7' -draw 'polygon 15,2 15,7 20,7' -stroke '#2e8b57' -strokewidth 2.5 -draw 'line 12,11 12,19' -draw 'line 8,15 16,15'
# An open folder.
draw open.bmp -fill '#f2c14e' -stroke '#7a5a12' -draw 'polygon 2,6 9,6 11,8 20,8 20,20 2,20' \
    -fill '#ffd978' -draw 'polygon 5,11 23,11 19,20 2,20'
# A folder with a down arrow.
draw dwnloads.bmp -fill '#f2c14e' -stroke '#7a5a12' -draw 'polygon 2,7 9,7 11,9 22,9 22,21 2,21' \
    -fill '#2e8b57' -stroke '#ffffff' -strokewidth 1 -draw 'polygon 9,10 15,10 15,14 18,14 12,20 6,14 9,14'
# A zipped box (Pellix mode).
draw pxmode.bmp -fill '#d9b38c' -stroke '#5c3d1e' -draw 'rectangle 3,5 21,21' -fill '#5c3d1e' \
    -draw 'rectangle 11,5 13,21' -fill '#ffffff' -stroke none -draw 'rectangle 11,7 13,8' -draw 'rectangle 11,11 13,12' -draw 'rectangle 11,15 13,16'
# A house (personal intranet mode).
draw pimode.bmp -fill '#ffffff' -stroke '#1d3b5c' -draw 'polygon 12,2 22,11 19,11 19,21 5,21 5,11 2,11' \
    -fill '#cc3333' -draw 'rectangle 10,14 14,21'
# A box with a plus (add to the current Zip).
draw addtocur.bmp -fill '#d9b38c' -stroke '#5c3d1e' -draw 'rectangle 2,8 16,21' \
    -fill '#2e8b57' -stroke '#ffffff' -strokewidth 1 -draw 'rectangle 15,2 19,14' -draw 'rectangle 11,6 23,10'
# A question mark in a circle.
draw help.bmp -fill '#ffffff' -stroke '#1d3b5c' -draw 'circle 12,12 12,2' -fill '#1d3b5c' -stroke none \
    -font DejaVu-Sans-Bold -pointsize 15 -gravity center -annotate +0+1 '?'
# A green arrow.
draw go.bmp -fill '#3cb371' -stroke '#14532d' -draw 'polygon 2,8 12,8 12,3 22,12 12,21 12,16 2,16'
# A small site map: three linked boxes.
draw map.bmp -stroke '#ffffff' -strokewidth 1.5 -draw 'line 12,7 5,16' -draw 'line 12,7 19,16' \
    -fill '#cfe3f7' -stroke '#1d3b5c' -draw 'rectangle 8,2 16,8' -draw 'rectangle 1,15 9,21' -draw 'rectangle 15,15 23,21'
# The status panel's run and stop buttons.
draw run.bmp -fill '#3cb371' -stroke '#14532d' -draw 'polygon 6,3 20,12 6,21'
draw stop.bmp -fill '#cc3333' -stroke '#5c1414' -draw 'rectangle 5,5 19,19'
# The activity animation: a dot running round a ring, 8 frames.
frames=()
for i in 0 1 2 3 4 5 6 7; do
    a=$(python3 -c "import math;print(round(12+8*math.cos($i*math.pi/4),1), round(12+8*math.sin($i*math.pi/4),1))")
    set -- $a
    f="$(mktemp --suffix=.png)"
    convert -size ${S}x${S} xc:none -fill none -stroke '#9fc3e6' -strokewidth 2 -draw 'circle 12,12 12,4' \
        -fill '#ffffff' -stroke none -draw "circle $1,$2 $1,$(python3 -c "print($2+2.5)")" "$f"
    frames+=("$f")
done
convert -delay 10 -loop 0 -dispose background "${frames[@]}" "$out/pxanim.gif"
rm -f "${frames[@]}"
