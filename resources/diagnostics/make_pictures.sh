#!/usr/bin/env bash
# Draws the banners of the view and test windows with ImageMagick. The results are
# committed; run this again only to change how they look.
set -euo pipefail
cd "$(dirname "$0")"

# 190 x 46 layout units at 2 pixels each.
banner() {  # name title subtitle motif-draw...
  local name=$1 title=$2 subtitle=$3
  shift 3
  convert -size 380x92 gradient:'#1d3a4a'-'#0b1a22' \
    -stroke '#3f7f8f' -fill none -draw 'rectangle 1,1 378,90' \
    -stroke none "$@" \
    -fill white -font URW-Gothic-Demi -pointsize 26 -draw "text 16,44 '$title'" \
    -fill '#9fd3dc' -font URW-Gothic-Book -pointsize 13 -draw "text 17,70 '$subtitle'" \
    -quality 95 "$name"
}

# Raw bytes: a strip of byte cells with their codes.
bytes=()
x=214
for code in 41 42 0D 0A 31 32; do
  bytes+=(-fill '#0f2530' -stroke '#3f7f8f' -draw "rectangle $x,24 $((x + 24)),48"
          -stroke none -fill '#7fd0a0' -font DejaVu-Sans-Mono-Bold -pointsize 11 -draw "text $((x + 5)),41 '$code'")
  x=$((x + 26))
done
banner view.jpg 'RS232 view' 'raw bytes as they arrive' "${bytes[@]}"

# Framing: characters, the cut at the terminator, and the frame that results.
frame=(-fill '#0f2530' -stroke '#3f7f8f' -draw 'rectangle 214,22 364,48'
       -stroke none -fill '#7fd0a0' -font DejaVu-Sans-Mono-Bold -pointsize 13 -draw "text 222,40 '+012.50 mm'"
       -stroke '#e05050' -strokewidth 2 -draw 'line 318,18 318,52' -stroke none -strokewidth 1
       -fill '#ffffff' -font URW-Gothic-Demi -pointsize 16 -draw "text 262,74 '12.5'")
banner test.jpg 'Frame test' 'framing, filter and conversion' "${frame[@]}"
