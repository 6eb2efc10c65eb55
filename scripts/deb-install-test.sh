#!/usr/bin/env bash
# The Debian package as a user meets it: installs build-deb's tovrik_*.deb with apt-get, runs the
# installed programs (the headless demo against /usr/bin/tovrik-cli, --version, the manual pages,
# a user who cannot write the settings folder), removes the package while a settings file exists,
# and checks that the machine is left as it was: the same Debian packages, the settings file kept.
# Needs root; every step undoes itself on failure too. A package left installed by a killed
# earlier run is removed first. Usage: scripts/deb-install-test.sh [package-build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-deb}")
deb=$(ls "$build"/tovrik_*.deb)
version=$(dpkg-deb --field "$deb" Version)
[ "$(id -u)" -eq 0 ] || { echo "deb-install-test: needs root (it installs a package)" >&2; exit 1; }

export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | sed -n 's/^ii  *//p' | sort; }
fail() { echo "deb-install-test: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/tovrik-deb-test.XXXXXX)
chmod 755 "$work"  # apt-get reads the package from here as its own unprivileged user
settings_dir=/var/lib/TachographIni
made_settings_dir=0
# Every package installed since the list was taken: tovrik and whatever apt-get brought with it.
added() { installed | comm -13 "$work/packages-before" -; }
cleanup() {
    local status=$?
    if [ -f "$work/packages-before" ]; then
        mapfile -t extra < <(added)
        if [ ${#extra[@]} -gt 0 ]; then "${apt[@]}" purge "${extra[@]}" >/dev/null || status=1; fi
    fi
    [ "$made_settings_dir" = 0 ] || rm -rf "$settings_dir"
    rm -rf "$work"
    if [ "$status" = 0 ]; then
        echo "deb-install-test: passed"
    else
        echo "deb-install-test: FAILED" >&2
    fi
    exit "$status"
}
trap cleanup EXIT

if installed | grep -qx tovrik; then
    echo "deb-install-test: removing the tovrik package left by an earlier run"
    "${apt[@]}" purge tovrik >/dev/null
fi
installed > "$work/packages-before"
cp "$deb" "$work/"
"${apt[@]}" install "$work/$(basename "$deb")" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
echo "deb-install-test: installed" $(added)

# What the package puts where.
for file in /usr/bin/tovrik /usr/bin/tovrik-cli /usr/share/applications/tovrik.desktop \
    /usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/tovrik.png \
    /usr/share/man/man1/tovrik.1.gz /usr/share/man/man1/tovrik-cli.1.gz \
    /usr/share/doc/tovrik/{copyright,README.md,changelog.gz,guide-ja.html}; do
    [ -f "$file" ] || fail "$file is not installed"
done
desktop-file-validate /usr/share/applications/tovrik.desktop

# --version: the package's version, before any start-up step (no display, no settings).
# The package's programs by their full names: a copy from "cmake --install" in /usr/local/bin may
# come first on the PATH.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tovrik --version | head -n 1)
[ "$out" = "tovrik $version" ] || fail "tovrik --version printed '$out'"
out=$(/usr/bin/tovrik-cli --version | head -n 1)
[ "$out" = "tovrik-cli $version" ] || fail "tovrik-cli --version printed '$out'"
status=0; /usr/bin/tovrik-cli --version --from 2019/04 --to 2019/04 2>/dev/null || status=$?
[ "$status" = 64 ] || fail "--version with a run's arguments ended with $status, not 64"
/usr/bin/tovrik-cli --help | grep -q 'man tovrik-cli' || fail "--help does not name the manual page"

# The manual pages are found and render without warnings.
for page in tovrik tovrik-cli; do
    man -aw "$page" | grep -qx "/usr/share/man/man1/$page.1.gz" || fail "man does not find $page"
    LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat man --warnings -l "/usr/share/man/man1/$page.1.gz" \
        > "$work/$page.txt" 2> "$work/$page.err"
    [ ! -s "$work/$page.err" ] || { cat "$work/$page.err" >&2; fail "man $page warns"; }
    grep -q '^EXIT STATUS' "$work/$page.txt" || fail "man $page has no EXIT STATUS"
done

# The demo, corrected by the installed tovrik-cli.
out=$("$root/scripts/demo.sh" --no-setup --headless --build "$build" --programs /usr/bin \
    --demo "$work/demo" 2>&1)
echo "$out" | grep -qx '12件の修正が終了しました' || { echo "$out"; fail "demo run"; }

# The machine's own settings folder: a user who cannot write it gets the clear message and 2,
# whether the folder is missing (only root can create it in /var/lib) or belongs to root.
as_nobody_fails() {
    local status=0
    (cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -u public HOME=/nonexistent XDG_RUNTIME_DIR= /usr/bin/tovrik-cli --from 2019/04 \
        --to 2019/04) \
        > /dev/null 2> "$work/nobody.err" || status=$?
    [ "$status" = 2 ] || { cat "$work/nobody.err" >&2; fail "unwritable settings: status $status"; }
    grep -q '運行解析の設定書込み権限がありません' "$work/nobody.err" &&
        grep -q "$settings_dir" "$work/nobody.err" ||
        { cat "$work/nobody.err" >&2; fail "unwritable settings: no clear message"; }
    sed -n 's/^tovrik-cli: /deb-install-test: as nobody: /p' "$work/nobody.err"
}
if [ -e "$settings_dir" ]; then
    echo "deb-install-test: $settings_dir exists; its cases are left out"
else
    as_nobody_fails
    made_settings_dir=1
    install -d -m 755 "$settings_dir"
    cp "$work/demo/public/Documents/TachographIni/TachoGraph.int" "$settings_dir/"
    as_nobody_fails
    # Root can write it: the settings file there is read and written (a dry run changes nothing).
    env -u public ODBCSYSINI="$work/demo/odbc" XDG_RUNTIME_DIR="$work/demo/run" \
        /usr/bin/tovrik-cli --from 2019/04 --to 2019/04 --dry-run > /dev/null
    settings_sum=$(sha256sum < "$settings_dir/TachoGraph.int")
fi

# Removal: the programs go, the settings stay, and so does nothing else of the package.
"${apt[@]}" remove tovrik >/dev/null
[ ! -e /usr/bin/tovrik-cli ] || fail "/usr/bin/tovrik-cli is still there after removal"
if [ "$made_settings_dir" = 1 ]; then
    [ "$(sha256sum < "$settings_dir/TachoGraph.int")" = "$settings_sum" ] ||
        fail "removal changed or removed $settings_dir/TachoGraph.int"
fi
mapfile -t extra < <(added)
if [ ${#extra[@]} -gt 0 ]; then "${apt[@]}" purge "${extra[@]}" >/dev/null; fi
dpkg-query -W -f='${db:Status-Abbrev}\n' tovrik 2>/dev/null | grep -q '^i' &&
    fail "tovrik is still known to dpkg after removal"
installed | diff "$work/packages-before" - || fail "the installed packages differ from before"
