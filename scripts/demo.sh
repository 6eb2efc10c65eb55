#!/usr/bin/env bash
# Tovrik's main job on a demo of its own: installs what is missing and builds the programs it runs
# (scripts/setup.sh), then creates demo/ afresh — a SQLite suite database with operations hit by
# the GPS week-number rollover in 2019/04 (and some that are not), an ODBC data source
# "TovrikDemo" registered in demo/odbc, and the suite's settings file in
# demo/public/Documents/TachographIni — and runs Tovrik on it: the window when a display is
# available, otherwise tovrik-cli over 2019/04, which prints the report. Nothing of the user's own
# settings, registry or ODBC sources is read or changed.
#
# Usage: scripts/demo.sh [--headless] [--no-setup] [--build DIR] [--demo DIR] [--programs DIR]
#   --headless   run tovrik-cli even when a display is available
#   --no-setup   use an existing build as it is (no installing, no building)
#   --build DIR  the build folder (default: build)
#   --demo DIR   the demo folder, removed and created again (default: demo)
#   --programs DIR  where tovrik and tovrik-cli are (default: the build's bin; /usr/bin runs
#                the installed package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
demo=$root/demo
programs=""
setup=1
headless=0
while [ $# -gt 0 ]; do
    case $1 in
        --headless) headless=1 ;;
        --no-setup) setup=0 ;;
        --build) build=$(realpath -m "$2"); shift ;;
        --demo) demo=$(realpath -m "$2"); shift ;;
        --programs) programs=$(realpath -m "$2"); shift ;;
        *) echo "usage: scripts/demo.sh [--headless] [--no-setup] [--build DIR] [--demo DIR]" \
                "[--programs DIR]" >&2
           exit 64 ;;
    esac
    shift
done
programs=${programs:-$build/bin}

window=0
if [ "$headless" = 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    window=1
fi

# Only the programs this demo runs; the tests are built by scripts/test.sh.
if [ "$setup" = 1 ]; then
    targets="tovrik-cli tovrik-sample-db"
    [ "$window" = 0 ] || targets="$targets tovrik"
    TOVRIK_BUILD_TARGETS=$targets "$root/scripts/setup.sh" "$build"
fi

# The driver of the programs' own architecture: with i386 packages installed as well, the first
# library found in /usr/lib/*/odbc could be one the programs cannot load.
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
sqlite_driver=$(ls "/usr/lib/$triplet/odbc/libsqlite3odbc.so" /usr/lib/odbc/libsqlite3odbc.so \
                2>/dev/null | head -n 1 || true)
if [ -z "$sqlite_driver" ]; then
    echo "demo: the SQLite ODBC driver (package libsqliteodbc) is not installed" >&2
    exit 1
fi

# A fresh demo on every run.
rm -rf "$demo"
settings=$demo/public/Documents/TachographIni
mkdir -p "$demo/odbc" "$settings" "$demo/run"
chmod 700 "$demo/run"

cat > "$demo/odbc/odbcinst.ini" <<EOF
[SQLite3]
Description=SQLite 3 ODBC driver
Driver=$sqlite_driver
DontDLClose=1
EOF
cat > "$demo/odbc/odbc.ini" <<EOF
[TovrikDemo]
Description=Tovrik demo suite database
Driver=SQLite3
Database=$demo/suite.db
EOF

# The suite's login settings name the data source. The copy marker says the registry settings
# were copied already, so no registry (nor Wine's user.reg) is read.
printf '%s\r\n' '[AllUser\\]' 'CopyFlg=1' '[Config]' 'TachographIni=True' \
    '[AllUser\ZuzurodeZoz\Login]' 'DSN=TovrikDemo' 'DBN=' 'UID=' 'PWD=' > "$settings/TachoGraph.int"

# Only the demo's files: drivers and data sources, settings folder and instance lock.
export ODBCSYSINI=$demo/odbc
export ODBCINI=$demo/odbc/odbc.ini
export public=$demo/public
export XDG_RUNTIME_DIR=$demo/run

"$build/tools/sampledata/tovrik-sample-db" --connect "DSN=TovrikDemo;" --month 2019/04 \
    --affected 12 --unaffected 8 --other-month 4
echo "demo: $demo/suite.db: 12 operations read in during 2019/04 carry dates 1024 weeks early,"
echo "      8 are correct, 4 more carry early dates but were read in during 2019/05."

if [ "$window" = 1 ]; then
    echo "demo: opening the window; pick 2019/04 on both month pickers and press 開始."
    exec "$programs/tovrik"
fi
echo "demo: no display; correcting 2019/04 with tovrik-cli:"
exec "$programs/tovrik-cli" --from 2019/04 --to 2019/04
