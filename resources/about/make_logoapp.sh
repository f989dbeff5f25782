#!/usr/bin/env bash
# Draws the about window's background, logoapp.jpg, with ImageMagick: a light graph-paper
# field with a measured trace, pale enough for the black texts the window draws on it.
# The result is committed; run this again only to change how it looks.
set -euo pipefail
cd "$(dirname "$0")"

# 394 x 199 layout units at 2 pixels each.
w=788
h=398

grid=""
for x in $(seq 0 24 $w); do grid+=" -draw 'line $x,0 $x,$h'"; done
for y in $(seq 2 24 $h); do grid+=" -draw 'line 0,$y $w,$y'"; done

# A damped oscillation settling on its value, as an instrument reading does.
trace=$(python3 -c "
import math
pts = []
for i in range(0, 789, 4):
    t = i / 788
    y = 330 - 150 * t + 38 * math.exp(-3.2 * t) * math.sin(26 * t)
    pts.append(f'{i},{y:.1f}')
print(' '.join(pts))")

eval convert -size ${w}x${h} gradient:'#f7fbfc'-'#d9ecef' \
  -stroke "'#b9d7dc'" -strokewidth 1 $grid \
  -stroke none -fill "'#cfe6e980'" -draw "'polygon 0,$h $trace $w,$h'" \
  -fill none -stroke "'#7db9c1'" -strokewidth 2 -draw "'polyline $trace'" \
  -stroke none -fill "'#127a80'" -draw "'rectangle 0,0 $w,10'" \
  -fill "'#eef6f7'" -draw "'rectangle 0,$((h - 34)) $w,$h'" \
  -fill "'#127a80'" -draw "'rectangle 0,$((h - 36)) $w,$((h - 34))'" \
  -quality 92 logoapp.jpg
