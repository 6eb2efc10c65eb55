#!/usr/bin/env bash
# The Windows package as an office installs it, under Wine in a fresh prefix (scripts/wine-run,
# Japanese locale): msiexec /i /qn installs the programs, the guide guide-ja.html and the
# Start-menu shortcuts; the installed tovrik-cli.exe corrects a demo suite database over 2019/04
# (as scripts/demo.sh sets it up); msiexec /x /qn removes the programs, shortcuts and
# registration and leaves the suite's settings file and a server settings file beside the
# programs as they were. Everything the test makes is removed at its end, the Wine prefix's
# processes included. (tests/package/guide-browser-test.sh opens the guide in a browser.)
#
# Usage: tests/package/windows-install-test.sh <tovrik-*.msi> [tovrik-sample-db]
#   tovrik-sample-db  the Linux tool that creates the demo database
#                     (default: build-ci/tools/sampledata/tovrik-sample-db)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || {
    echo "usage: tests/package/windows-install-test.sh <tovrik-*.msi> [tovrik-sample-db]" >&2
    exit 64
}
msi=$(realpath "$1")
sample_db=$(realpath -m "${2:-$root/build-ci/tools/sampledata/tovrik-sample-db}")
[ -x "$sample_db" ] || { echo "windows-install-test: $sample_db is not built" >&2; exit 1; }
# Wine's 64-bit odbc32 loads the host's own drivers (not an i386 one installed beside them).
triplet=$(dpkg-architecture -qDEB_BUILD_MULTIARCH 2>/dev/null || gcc -print-multiarch)
sqlite_driver=$(ls "/usr/lib/$triplet/odbc/libsqlite3odbc.so" 2>/dev/null || true)
[ -n "$sqlite_driver" ] || { echo "windows-install-test: libsqliteodbc is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-install-test.XXXXXX")
wine=$work/wine
cleanup() {
    "$root/scripts/wine-run" --stop "$wine" || true
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check <description> <command...>
    if "${@:2}"; then
        echo "windows-install-test: ok: $1"
    else
        echo "windows-install-test: FAILED: $1" >&2
        failures=$((failures + 1))
    fi
}
# Every Windows program gets a time limit; the prefix's wineserver ends with the cleanup.
win() {
    timeout -k 10 300 "$root/scripts/wine-run" "$wine" "$@"
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

drive_c=$wine/prefix/drive_c
program_dir="$drive_c/Program Files/Tovrik"
settings_dir=$drive_c/users/Public/Documents/TachographIni
product_code=$(msiinfo export "$msi" Property | sed -n 's/^ProductCode\t\(.*\)\r*$/\1/p' | tr -d '\r')
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code"
shortcut_files() {  # the Start-menu shortcuts, machine-wide or (as Wine puts them) the user's
    find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
         "$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
         -maxdepth 1 -name '*.lnk' 2>/dev/null | sort
}
shortcuts() { shortcut_files | sed 's|.*/||'; }
shortcut_to() {  # shortcut_to <name> <file>: the shortcut <name> opens the installed <file>
    local lnk
    lnk=$(shortcut_files | grep -F "/$1.lnk" | head -n 1)
    [ -n "$lnk" ] && strings -a -el "$lnk" | grep -qx "$2"
}
registered() { win reg query "$uninstall_key" >/dev/null 2>&1; }
unregistered() { ! registered; }

echo "windows-install-test: msiexec /i $(basename "$msi") /qn"
status=0
win msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/install.log")" || status=$?
if [ "$status" != 0 ]; then
    echo "windows-install-test: msiexec /i ended with $status; the end of its log:" >&2
    iconv -c -f CP932 -t UTF-8 "$work/install.log" | tail -n 30 >&2 || true
    exit 1
fi
for file in tovrik.exe tovrik-cli.exe guide-ja.html; do
    check "installed $file" test -s "$program_dir/$file"
done
expected_shortcuts=$'Nuvral日付修正 操作ガイド.lnk\nNuvral日付修正.lnk'
check "Start-menu shortcuts" test "$(shortcuts)" = "$expected_shortcuts"
check "shortcut Nuvral日付修正 starts tovrik.exe" shortcut_to 'Nuvral日付修正' tovrik.exe
check "shortcut to the guide" shortcut_to 'Nuvral日付修正 操作ガイド' guide-ja.html
check "registered per machine ($uninstall_key)" registered

# A demo suite: the database through the SQLite ODBC driver, the data source in an ODBCSYSINI
# folder (Wine's odbc32 hands the calls to the host's unixODBC), and the suite's settings file
# in %PUBLIC%\Documents\TachographIni naming that data source.
mkdir -p "$work/odbc" "$settings_dir"
printf '[SQLite3]\nDriver=%s\nDontDLClose=1\n' "$sqlite_driver" >"$work/odbc/odbcinst.ini"
printf '[TovrikDemo]\nDriver=SQLite3\nDatabase=%s\n' "$work/suite.db" >"$work/odbc/odbc.ini"
export ODBCSYSINI=$work/odbc
printf '%s\r\n' '[AllUser\\]' 'CopyFlg=1' '[Config]' 'TachographIni=True' \
    '[AllUser\ZuzurodeZoz\Login]' 'DSN=TovrikDemo' 'DBN=' 'UID=' 'PWD=' \
    >"$settings_dir/TachoGraph.int"
ODBCINI=$work/odbc/odbc.ini "$sample_db" --connect "DSN=TovrikDemo;" --month 2019/04 \
    --affected 12 --unaffected 8 --other-month 4 >/dev/null

echo "windows-install-test: C:\\Program Files\\Tovrik\\tovrik-cli.exe --from 2019/04 --to 2019/04"
status=0
win 'C:\Program Files\Tovrik\tovrik-cli.exe' --from 2019/04 --to 2019/04 \
    >"$work/report" 2>"$work/errors" || status=$?
tr -d '\r' <"$work/report"
check "tovrik-cli exit status 0 (was $status)" test "$status" = 0
check "report of 12 corrected operations" grep -qx '12件の修正が終了しました' <(tr -d '\r' <"$work/report")
[ "$status" = 0 ] || cat "$work/errors" >&2
# Left early: only the 4 operations read in during 2019/05, with their 10 events each.
early() { sqlite3 "$work/suite.db" "SELECT COUNT(*) FROM $1 WHERE $2 < '2008-01-01'"; }
check "only the other month's operations still early" test "$(early General Date)" = 4
check "only the other month's events still early" test "$(early EventLog Date)" = 40

# An operator's server settings file beside the programs is not the package's to remove.
printf '[Data]\r\nData01=\r\n' >"$program_dir/NUVRALsv.ini"
cp "$settings_dir/TachoGraph.int" "$work/settings-before-uninstall"

echo "windows-install-test: msiexec /x $(basename "$msi") /qn"
status=0
win msiexec /x "$(winpath "$msi")" /qn || status=$?
check "msiexec /x exit status 0 (was $status)" test "$status" = 0
for file in tovrik.exe tovrik-cli.exe guide-ja.html; do
    check "$file removed" test ! -e "$program_dir/$file"
done
check "shortcuts removed" test -z "$(shortcuts)"
check "registration removed" unregistered
check "settings file kept as it was" cmp -s "$work/settings-before-uninstall" \
    "$settings_dir/TachoGraph.int"
check "server settings file kept" test -f "$program_dir/NUVRALsv.ini"

[ "$failures" = 0 ] || { echo "windows-install-test: $failures checks failed" >&2; exit 1; }
echo "windows-install-test: passed"
