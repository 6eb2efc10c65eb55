#!/bin/sh
# Draws the window icon of Tovrik: a calendar page whose date is pushed forward by an arrow.
# Writes tovrik16.png and tovrik32.png (256-colour PNGs, drawn pixel by pixel for their size) and
# tovrik48.png to tovrik256.png (the 32-pixel drawing scaled, for the desktop's icon theme) beside
# this script. Needs ImageMagick.
set -eu
cd "$(dirname "$0")"

# The 32-pixel drawing; larger sizes scale it.
calendar="
    fill '#ffffff' stroke '#44546a' stroke-width 1 roundrectangle 2,4 27,29 3,3
    fill '#c0392b' stroke '#44546a' roundrectangle 2,4 27,11 3,3
    fill '#c0392b' stroke none rectangle 3,9 26,11
    fill '#44546a' rectangle 8,1 10,7 rectangle 19,1 21,7
    fill '#9aa5b1'
    rectangle 6,15 9,17 rectangle 12,15 15,17 rectangle 18,15 21,17
    rectangle 6,20 9,22 rectangle 12,20 15,22
    rectangle 6,25 9,27
    fill '#1e8449' stroke '#ffffff' stroke-width 1
    polygon 13,22 22,22 22,17 31,25 22,31 22,27 13,27"

convert -size 32x32 xc:none -draw "$calendar" PNG8:tovrik32.png
for size in 48 64 128 256; do
    scale=$(awk "BEGIN { print $size / 32 }")
    convert -size "${size}x$size" xc:none -draw "affine $scale,0,0,$scale,0,0 $calendar" \
        PNG32:"tovrik$size.png"
done

convert -size 16x16 xc:none \
    -fill '#ffffff' -stroke '#44546a' -strokewidth 1 -draw 'rectangle 0.5,2.5 13.5,15.5' \
    -fill '#c0392b' -stroke none -draw 'rectangle 1,3 13,5' \
    -fill '#44546a' -draw 'rectangle 3,0 4,3' -draw 'rectangle 9,0 10,3' \
    -fill '#9aa5b1' -draw 'rectangle 3,8 4,9' -draw 'rectangle 6,8 7,9' \
    -draw 'rectangle 3,11 4,12' \
    -fill '#1e8449' -stroke none \
    -draw 'polygon 6,11 10,11 10,8 15,12.5 10,16 10,14 6,14' \
    PNG8:tovrik16.png
