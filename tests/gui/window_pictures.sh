#!/usr/bin/env bash
# The pictures of the main window in docs/screenshots, from the current builds:
#   window-before.png, -during.png, -after.png, -error-box.png   the Qt window at scale 1
#   window-scale-1.25.png, window-scale-1.5.png                     after a run, QT_SCALE_FACTOR
#   windows-*.png                                                   the Windows window, as the
#                                                                   window_e2e_windows test left
#                                                                   them (before, during and after a
#                                                                   run, the error box, each dpi)
# The Qt pictures come from gui_window_shots on an X server of its own; the Windows ones only
# when a Windows build directory is given and its window_e2e_windows test has run.
#
# Usage: tests/gui/window_pictures.sh <linux-build-dir> [<windows-build-dir>] [<out-dir>]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 linux-build-dir [windows-build-dir] [out-dir]" >&2; exit 64; }
linux=$(realpath "$1")
windows=${2:+$(realpath "$2")}
out=$(realpath -m "${3:-$root/docs/screenshots}")
work=$(mktemp -d)
xvfb=$root/scripts/xvfb-test-server

cleanup() {
    "$xvfb" stop "$work/xvfb" || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$out"
display=$("$xvfb" start "$work/xvfb" -screen 0 800x600x24)
for scale in 1 1.25 1.5; do
    DISPLAY=$display LANG=C.UTF-8 ODBCSYSINI=$linux/odbc QT_SCALE_FACTOR=$scale \
        "$linux/tests/gui/gui_window_shots" "$work/$scale" >/dev/null
done
for picture in before during after error-box; do
    number=$(cd "$work/1" && ls -- *-"$picture".png | head -n 1)
    cp "$work/1/$number" "$out/window-$picture.png"
done
cp "$work/1.25/3-after.png" "$out/window-scale-1.25.png"
cp "$work/1.5/3-after.png" "$out/window-scale-1.5.png"

if [ -n "$windows" ]; then
    shots=$windows/tests/e2e/window-e2e/shots
    [ -d "$shots" ] || { echo "$0: no $shots; run the window_e2e_windows test first" >&2; exit 1; }
    cp "$shots"/windows-*.png "$out/"
fi
ls "$out"
