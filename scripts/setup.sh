#!/usr/bin/env bash
# Installs every Debian package that Tovrik's build, tests and demo need (only what is missing),
# then configures and builds. Usage: scripts/setup.sh [build-dir] [extra cmake arguments...]
# TOVRIK_BUILD_TARGETS, when set, names the targets to build (space-separated) instead of all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

mapfile -t wanted < <(grep -v '^\s*\(#\|$\)' "$root/scripts/packages.txt")
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
read -r -a targets <<< "${TOVRIK_BUILD_TARGETS:-all}"
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
