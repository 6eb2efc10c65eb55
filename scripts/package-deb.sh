#!/usr/bin/env bash
# Builds the Debian package of Tovrik: installs what is missing (scripts/setup.sh), makes a Release
# build of the programs without the tests, with Debian's hardening flags and warnings as errors,
# makes the operator's guide guide-ja.html (scripts/make-guide.sh: pictures of the Windows
# programs of the Windows packages' cross build, taken under Wine; the same guide as theirs),
# packs it all with CPack (dependencies from dpkg-shlibdeps) and checks it with
# desktop-file-validate and lintian (errors fail; warnings are printed). The package's path is
# the last line printed.
# SOURCE_DATE_EPOCH, when not set, becomes the time of the last commit: the build date that
# --version shows and the changelog's date then follow the sources, not the clock.
# Usage: scripts/package-deb.sh [build-dir]   (default: build-deb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-deb}")

if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

# Debian's flags for the programs (hardening included), without debugging information: the
# package ships stripped programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags=$(cd "$root" && echo "$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)")
ldflags=$(cd "$root" && dpkg-buildflags --get LDFLAGS)

rm -f "$build"/tovrik_*.deb
guide=$build/guide-ja.html
TOVRIK_BUILD_TARGETS=all "$root/scripts/setup.sh" "$build" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTOVRIK_BUILD_TESTS=OFF \
    -DTOVRIK_WERROR=ON -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DTOVRIK_GUIDE_HTML="$guide"
"$root/scripts/make-guide.sh" "$guide" >&2
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tovrik_*.deb)

desktop-file-validate "$root/packaging/linux/tovrik.desktop"
echo "package-deb: lintian $deb" >&2
lintian --fail-on error --tag-display-limit 0 "$deb" >&2
dpkg-deb --field "$deb" Package Version Depends Recommends >&2
echo "$deb"
