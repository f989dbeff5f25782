#!/usr/bin/env bash
# Renders the launcher icon kelvor.svg (drawn by hand, the source) into the PNG sizes of the
# hicolor icon theme with rsvg-convert (Debian package librsvg2-bin). The results are
# committed; run this again only after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "kelvor-$size.png" kelvor.svg
done
