#!/usr/bin/env bash
# The Windows build, executed: cross-builds the core, tovrik-cli and every test program whose
# subject is not the Qt window with MinGW-w64 (posix thread model, static runtime, GoogleTest
# from Debian's sources), then runs the tests under Wine through CTest (scripts/wine-run): all of
# them under a Japanese locale (ANSI code page 932, as on the users' machines), then the profile
# file and code page tests again under en_US (code page 1252). Each run makes its Wine prefix in
# the build folder and removes it at its end. The packages come from scripts/packages.txt
# (scripts/setup.sh). Usage: scripts/windows-test.sh [build-dir]
# The Windows window, tovrik.exe, is among the programs built; its end-to-end test
# (window_e2e_windows) runs under Wine on an X server of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-windows}
jobs=$(nproc)

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"

cd "$build"
status=0
echo "windows-test: all tests, code page 932 (ja_JP.UTF-8)"
TOVRIK_WINE_LOCALE=ja_JP.UTF-8 ctest --output-on-failure -j "$jobs" || status=1
echo "windows-test: profile files and code page conversions, code page 1252 (en_US.UTF-8)"
TOVRIK_WINE_LOCALE=en_US.UTF-8 ctest --output-on-failure -j "$jobs" \
    -R '^(wine_stop|Rules/Profile|Golden/Profile|Values/Profile|Texts/Profile|Profile|Values/Ini|IniSettings|SettingsFolderWindows|Texts/AnsiConversion)' \
    || status=1
exit "$status"
