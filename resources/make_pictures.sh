#!/usr/bin/env bash
# Draws the built-in pictures of the main window and the message window with ImageMagick.
# The results are committed; run this again only to change how they look.
set -euo pipefail
cd "$(dirname "$0")/pictures"
font=DejaVu-Sans-Bold

# The strip's background: 127 x 38 layout units at 2 pixels each.
convert -size 254x76 gradient:'#1d3a4a'-'#0b1a22' \
  -fill '#081318' -stroke '#3f7f8f' -draw 'roundrectangle 3,4 130,30 3,3' \
  -fill '#e4f2f2' -stroke '#7fb0bf' -draw 'roundrectangle 136,4 220,30 3,3' \
  -stroke none -fill '#06100f' -draw 'circle 54,40 54,33' -draw 'circle 70,40 70,33' -draw 'circle 114,40 114,33' \
  -quality 95 kelvor.jpg

lamp() {  # name colour
  convert -size 12x12 xc:'#0b1a22' -fill "$2" -stroke '#ffffff80' -draw 'circle 6,6 6,1' \
    -fill '#ffffffb0' -stroke none -draw 'circle 4,4 4,3' -quality 95 "$1"
}
lamp led_v.jpg '#20d040'
lamp led_r.jpg '#e02020'
lamp led_o.jpg '#ff9a10'

draws() {  # turns each argument into a -draw option
  for shape in "$@"; do printf -- '-draw\n%s\n' "$shape"; done
}
button() {  # name colour shapes...
  local name=$1 colour=$2
  shift 2
  mapfile -t shapes < <(draws "$@")
  convert -size 26x26 xc:"$colour" -fill '#ffffff30' -draw 'rectangle 0,0 25,11' \
    -stroke '#00000080' -fill none -draw 'rectangle 0,0 25,25' \
    -stroke none -fill white "${shapes[@]}" -quality 95 "$name"
}
button bt_conf.jpg '#3a5a70' 'rectangle 6,7 19,9' 'rectangle 6,12 19,14' 'rectangle 6,17 19,19'
button bt_run.jpg '#2c8a3c' 'polygon 9,6 9,20 20,13'
button bt_off.jpg '#b02a2a' 'rectangle 8,8 18,18'

icon() {  # name colour shapes...
  local name=$1 colour=$2
  shift 2
  mapfile -t shapes < <(draws "$@")
  convert -size 16x16 xc:none -fill "$colour" -stroke '#00000090' -draw 'circle 8,8 8,1' \
    -stroke none -fill white "${shapes[@]}" "$name"
}
icon pok.ico '#2ca02c' 'polygon 4,8 7,11 12,5 12,7 7,13 4,10'
icon pcancel.ico '#7a7a7a' 'polygon 5,4 12,11 11,12 4,5' 'polygon 11,4 12,5 5,12 4,11'
icon psend.ico '#1f6fd0' 'polygon 4,6 9,6 9,3 13,8 9,13 9,10 4,10'
icon precep.ico '#d08a10' 'polygon 12,6 7,6 7,3 3,8 7,13 7,10 12,10'
# The port's device went away during a run: a red badge with an exclamation mark.
icon plost.ico '#d02020' 'rectangle 7,3 9,9' 'rectangle 7,11 9,13'

# The program's icon: a "K" on a teal badge.
convert -size 64x64 xc:none -fill '#127a80' -draw 'roundrectangle 2,2 61,61 12,12' \
  -fill white -font "$font" -pointsize 44 -gravity center -annotate +0+2 'K' kelvor.png

# Message window: the picture behind the three lines, and the OK button.
convert -size 596x92 gradient:'#fff8e8'-'#f3e2bc' -stroke '#c8a86080' -fill none \
  -draw 'rectangle 1,1 594,90' -quality 95 f_messag.jpg
convert -size 48x48 xc:'#2c8a3c' -fill '#ffffff30' -draw 'rectangle 0,0 47,20' \
  -fill white -font "$font" -pointsize 18 -gravity center -annotate +0+0 'OK' -quality 95 b_ok.jpg
