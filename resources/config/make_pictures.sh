#!/usr/bin/env bash
# Draws the four pictures on the left of the configuration window's tabs with ImageMagick.
# The results are committed; run this again only to change how they look.
set -euo pipefail
cd "$(dirname "$0")"

# 48 x 112 layout units at 2 pixels each.
panel() {  # name title motif-draw...
  local name=$1 title=$2
  shift 2
  convert -size 96x224 gradient:'#1d3a4a'-'#0b1a22' \
    -stroke '#3f7f8f' -fill none -draw 'rectangle 1,1 94,222' \
    -stroke none "$@" \
    -stroke none -strokewidth 1 -fill white -font URW-Gothic-Demi -pointsize 15 -gravity south -annotate +0+14 "$title" \
    -quality 95 "$name"
}

# A nine-pin D connector with its two rows of pins.
connector=(-fill '#9aa8b0' -stroke '#d8e2e6' -strokewidth 2
           -draw 'polygon 14,70 82,70 74,110 22,110'
           -stroke none -fill '#0f2530')
for x in 24 36 48 60 72; do connector+=(-draw "circle $x,83 $((x + 3)),83"); done
for x in 30 42 54 66; do connector+=(-draw "circle $x,97 $((x + 3)),97"); done
connector+=(-fill '#7fd0a0' -draw 'rectangle 44,110 52,150' -draw 'rectangle 40,150 56,160')
panel rs232.jpg 'RS232' "${connector[@]}"

# A record of characters cut at its end marker.
record=(-fill '#0f2530' -stroke '#3f7f8f')
y=40
for text in '12.5' '+7.02' '-0.31'; do
  record+=(-draw "rectangle 12,$y 84,$((y + 22))"
           -stroke none -fill '#7fd0a0' -font DejaVu-Sans-Mono-Bold -pointsize 12
           -draw "text 18,$((y + 16)) '$text'"
           -fill '#e05050' -draw "text 62,$((y + 16)) 'CR'"
           -fill '#0f2530' -stroke '#3f7f8f')
  y=$((y + 34))
done
record+=(-stroke '#e05050' -strokewidth 2 -draw 'line 58,30 58,150' -stroke none -strokewidth 1)
panel define.jpg 'Record' "${record[@]}"

# Two programs linked by the DDE conversation.
dde=(-fill '#0f2530' -stroke '#9fd3dc' -strokewidth 2
     -draw 'roundrectangle 16,30 80,62 5,5' -draw 'roundrectangle 16,118 80,150 5,5'
     -stroke '#7fd0a0' -draw 'line 38,66 38,112' -draw 'line 58,66 58,112'
     -stroke none -fill '#7fd0a0'
     -draw 'polygon 32,108 44,108 38,116' -draw 'polygon 52,70 64,70 58,62'
     -fill white -font DejaVu-Sans-Bold -pointsize 11
     -draw "text 24,51 'Kelvor'" -draw "text 27,139 'Client'")
panel dde.jpg 'DDE' "${dde[@]}"

# A loudspeaker and its sound waves.
speaker=(-fill '#9aa8b0' -stroke '#d8e2e6' -strokewidth 2
         -draw 'rectangle 14,74 30,106' -draw 'polygon 30,74 52,54 52,126 30,106'
         -fill none -stroke '#7fd0a0' -strokewidth 3
         -draw 'arc 44,70 68,110 -50,50' -draw 'arc 44,58 82,122 -50,50' -strokewidth 1)
panel sound.jpg 'Sound' "${speaker[@]}"
