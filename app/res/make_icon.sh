#!/bin/bash
# Draws the notification-area icon (a memory card with an arrival arrow on a blue
# tile) at 128 pixels and reduces it to the two sizes the shell asks for.
# Run it only to change the image; the .ico beside it is what the build uses.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
convert -size 128x128 xc:none \
  -fill '#1d5fb8' -stroke '#0f3a75' -strokewidth 4 -draw 'roundrectangle 4,4 123,123 22,22' \
  -fill white -stroke none -draw 'polygon 34,22 80,22 96,38 96,106 34,106' \
  -fill '#1d5fb8' -draw 'rectangle 44,28 50,44' -draw 'rectangle 56,28 62,44' -draw 'rectangle 68,28 74,44' \
  -fill '#f5a623' -draw 'polygon 65,52 65,72 50,72 72,98 94,72 79,72 79,52' \
  "$tmp/big.png"
convert "$tmp/big.png" -filter Lanczos -resize 32x32 "$tmp/32.png"
convert "$tmp/big.png" -filter Lanczos -resize 16x16 -unsharp 0x0.6 "$tmp/16.png"
convert "$tmp/16.png" "$tmp/32.png" watcher.ico
cp "$tmp/big.png" watcher-128.png
rm -rf "$tmp"
