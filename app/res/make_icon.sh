#!/bin/bash
# Draws the notification-area icon (a memory card with an arrival arrow on a blue
# tile) at 256 pixels and reduces it to every size the shell asks for at 100 to
# 200 % scaling (16, 20, 24, 32, 40, 48, 64; 256 for large views, stored as PNG).
# Run it only to change the image; the .ico beside it is what the build uses.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
# The drawing is laid out on a 128-pixel grid and scaled, so each size is
# reduced from the sharpest image.
draw() {
  local size=$1 f=$2  # the stroke width scales with the drawing
  convert -size "${size}x${size}" xc:none \
    -fill '#1d5fb8' -stroke '#0f3a75' -strokewidth 4 -draw "scale $f,$f roundrectangle 4,4 123,123 22,22" \
    -fill white -stroke none -draw "scale $f,$f polygon 34,22 80,22 96,38 96,106 34,106" \
    -fill '#1d5fb8' -draw "scale $f,$f rectangle 44,28 50,44" -draw "scale $f,$f rectangle 56,28 62,44" \
    -draw "scale $f,$f rectangle 68,28 74,44" \
    -fill '#f5a623' -draw "scale $f,$f polygon 65,52 65,72 50,72 72,98 94,72 79,72 79,52" \
    "$3"
}
draw 256 2 "$tmp/256.png"
convert "$tmp/256.png" -depth 8 "PNG32:$tmp/256.png"
draw 128 1 "$tmp/big.png"
frames=()
for s in 16 20 24 32 40 48 64; do
  # The smallest sizes get a touch of sharpening, or the card's notches blur away.
  sharpen=()
  [ "$s" -le 24 ] && sharpen=(-unsharp 0x0.6)
  convert "$tmp/256.png" -filter Lanczos -resize "${s}x${s}" "${sharpen[@]}" "$tmp/$s.png"
  frames+=("$tmp/$s.png")
done
convert "${frames[@]}" "$tmp/256.png" watcher.ico
cp "$tmp/big.png" watcher-128.png
rm -rf "$tmp"
