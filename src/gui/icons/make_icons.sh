#!/bin/sh
# Draws the window icon of Tovrik: a calendar page whose date is pushed forward by an arrow.
# Writes tovrik32.png and tovrik16.png (256-colour PNGs) beside this script. Needs ImageMagick.
set -eu
cd "$(dirname "$0")"

convert -size 32x32 xc:none \
    -fill '#ffffff' -stroke '#44546a' -strokewidth 1 -draw 'roundrectangle 2,4 27,29 3,3' \
    -fill '#c0392b' -stroke '#44546a' -draw 'roundrectangle 2,4 27,11 3,3' \
    -fill '#c0392b' -stroke none -draw 'rectangle 3,9 26,11' \
    -fill '#44546a' -draw 'rectangle 8,1 10,7' -draw 'rectangle 19,1 21,7' \
    -fill '#9aa5b1' \
    -draw 'rectangle 6,15 9,17' -draw 'rectangle 12,15 15,17' -draw 'rectangle 18,15 21,17' \
    -draw 'rectangle 6,20 9,22' -draw 'rectangle 12,20 15,22' \
    -draw 'rectangle 6,25 9,27' \
    -fill '#1e8449' -stroke '#ffffff' -strokewidth 1 \
    -draw 'polygon 13,22 22,22 22,17 31,25 22,31 22,27 13,27' \
    PNG8:tovrik32.png

convert -size 16x16 xc:none \
    -fill '#ffffff' -stroke '#44546a' -strokewidth 1 -draw 'rectangle 0.5,2.5 13.5,15.5' \
    -fill '#c0392b' -stroke none -draw 'rectangle 1,3 13,5' \
    -fill '#44546a' -draw 'rectangle 3,0 4,3' -draw 'rectangle 9,0 10,3' \
    -fill '#9aa5b1' -draw 'rectangle 3,8 4,9' -draw 'rectangle 6,8 7,9' \
    -draw 'rectangle 3,11 4,12' \
    -fill '#1e8449' -stroke none \
    -draw 'polygon 6,11 10,11 10,8 15,12.5 10,16 10,14 6,14' \
    PNG8:tovrik16.png
