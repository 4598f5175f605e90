#!/bin/bash
# Draws dialog/reposearch.ico, the programs' icon: an export (a page of
# tagged lines) under a magnifying glass, at 16 to 256 pixels.
# Needs imagemagick.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 256x256 xc:none \
  -fill '#f4f6fa' -stroke '#2d4a7a' -strokewidth 10 -draw 'roundrectangle 28,12 188,236 18,18' \
  -stroke none -fill '#2d6fd0' \
  -draw 'rectangle 56,52 92,66' -draw 'rectangle 104,52 160,66' \
  -draw 'rectangle 72,88 150,102' -draw 'rectangle 72,124 132,138' \
  -draw 'rectangle 56,160 92,174' -draw 'rectangle 104,160 140,174' \
  -fill '#ffffffc0' -stroke '#1b2f52' -strokewidth 16 -draw 'circle 162,150 162,212' \
  -stroke '#1b2f52' -strokewidth 30 -draw 'line 206,196 240,236' \
  "$work/icon.png"
for size in 16 24 32 48 64 128; do convert "$work/icon.png" -resize ${size}x${size} "$work/icon-$size.png"; done
convert "$work"/icon-16.png "$work"/icon-24.png "$work"/icon-32.png "$work"/icon-48.png \
  "$work"/icon-64.png "$work"/icon-128.png "$work/icon.png" dialog/reposearch.ico
convert "$work/icon.png" -resize 128x128 docs/icon.png
