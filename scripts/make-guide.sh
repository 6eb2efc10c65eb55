#!/usr/bin/env bash
# The Japanese operator's guide as one HTML file, guide-ja.html, with pictures of the current
# build's windows and the console texts of its tovrik-cli.exe (packaging/guide): builds the
# 64-bit Windows programs in the Windows packages' cross build (cmake/windows-package.cmake; the
# same folder as scripts/package-windows.sh), runs them under Wine on a private X server, and
# copies the guide to OUT. The pictures are taken again only when a program changed (about a
# minute); the packages and tests come from scripts/packages.txt (scripts/setup.sh).
#
# Usage: scripts/make-guide.sh [--build DIR] [--no-build] OUT
#   --build DIR  the 64-bit Windows cross build (default: build-package-windows)
#   --no-build   copy the guide that DIR already holds, as it is
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package-windows
do_build=1
out=
usage="usage: scripts/make-guide.sh [--build DIR] [--no-build] OUT"
while [ $# -gt 0 ]; do
    case $1 in
        --build) [ $# -ge 2 ] || { echo "$usage" >&2; exit 64; }
                 build=$(realpath -m "$2"); shift ;;
        --no-build) do_build=0 ;;
        -*) echo "$usage" >&2; exit 64 ;;
        *) [ -z "$out" ] || { echo "$usage" >&2; exit 64; }
           out=$(realpath -m "$1") ;;
    esac
    shift
done
[ -n "$out" ] || { echo "$usage" >&2; exit 64; }

if [ "$do_build" = 1 ]; then
    cmake -S "$root" -B "$build" -C "$root/cmake/windows-package.cmake" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
    cmake --build "$build" -j "$(nproc)" --target tovrik_guide
fi
guide=$build/packaging/guide/guide-ja.html
[ -f "$guide" ] || { echo "make-guide: $guide is not made (build the target tovrik_guide)" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
cp "$guide" "$out"
echo "make-guide: $out"
