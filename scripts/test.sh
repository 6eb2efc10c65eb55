#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test against real SQLite and
# PostgreSQL databases (the tests start their own PostgreSQL server; the headless demo is one of
# the tests), builds the Debian package and installs, runs and removes it (as root), then fuzzes
# the INI reader for a bounded time, cross-builds for Windows and runs the Windows tests under
# Wine (the window end to end in a private X server among them), and builds the Windows MSI and
# zips (x64, and x86 checked statically: no 32-bit code runs here) and installs, runs and
# uninstalls the MSI under Wine, and opens the packages' operator's guide (made with pictures of
# the Windows programs while the Debian package is built) in a headless browser. Every build
# treats warnings in Tovrik's own code as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-ci

"$root/scripts/setup.sh" "$build" -DTOVRIK_SANITIZE=ON -DTOVRIK_WERROR=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/support/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure -j "$(nproc)"
# The Debian package: built and checked by lintian, then (as root) installed, run and removed.
"$root/scripts/package-deb.sh" "$root/build-deb"
if [ "$(id -u)" -eq 0 ]; then
    "$root/scripts/deb-install-test.sh" "$root/build-deb"
else
    echo "test: the package's install test needs root; left out"
fi
"$root/scripts/fuzz.sh" "$root/build-fuzz"  # INI reader fuzzing, bounded (TOVRIK_FUZZ_SECONDS)
"$root/scripts/windows-test.sh"  # the Windows build's tests under Wine
# The Windows packages (x64 MSI and zip, x86 zip), the MSI installed, used and uninstalled under
# Wine.
package=$root/build-package-windows/package
rm -rf "$package"
"$root/scripts/package-windows.sh" "$package"
"$root/tests/package/windows-install-test.sh" "$package"/tovrik-*-x64.msi \
    "$build/tools/sampledata/tovrik-sample-db"
# The operator's guide as the x64 zip holds it, in chromium; the picture of the page is left in
# the package folder.
unzip -q -o -d "$package/guide" "$package"/tovrik-*-x64.zip guide-ja.html
"$root/tests/package/guide-browser-test.sh" "$package/guide/guide-ja.html"
