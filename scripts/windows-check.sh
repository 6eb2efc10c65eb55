#!/usr/bin/env bash
# Proves that the core libraries, tovrik-cli and the sample-database tool still compile and link
# for 64-bit Windows: a cross build with Debian's MinGW-w64 (installed here when missing), without
# the Qt window and the tests. Fails on the first error. Usage: scripts/windows-check.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-windows}
package=g++-mingw-w64-x86-64

if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "windows-check: installing $package"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "$package" >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "windows-check: built $build/bin/tovrik-cli.exe"
