#!/usr/bin/env bash
# The pictures and console texts of the operator's guide, taken from the Windows programs of the
# current build under Wine on a private X server, with the Japanese font replacements of the
# window's end-to-end test (tests/e2e/window_e2e_windows.sh), so that they show what an office
# sees. Wine draws the windows' title bars itself (no window manager runs).
#
# Pictures (PNG), on a suite database of 30,000 early-dated operations read in during 2019/04
# and 10,000 during 2019/05:
#   window-start.png    the window as it opens
#   window-months.png   2019/04 and 2019/05 picked
#   window-during.png   the run on its way (the first progress that is not the last)
#   window-report.png   the report at the end of the run
#   window-error.png    the error box of a run on a database whose table OpData is missing,
#                       over the window
# Console texts, tovrik-cli.exe on the demo database of scripts/demo.sh (12 operations to
# correct in 2019/04, 4 in 2019/05), standard output and error as they come:
#   console-scan.txt    --scan
#   console-run.txt     --from 2019/04 --to 2019/05
#   journal.txt         the journal that run wrote
#   console-undo.txt    --undo of that journal
#
# Usage: take-pictures.sh <tovrik.exe> <tovrik-cli.exe> <tovrik-window-probe.exe>
#                         <tovrik-sample-db.exe> <out-dir>
# <out-dir> also holds the Wine prefix and the databases while the pictures are taken; what is
# left at the end is the pictures and texts. Needs Xvfb, xdotool, ImageMagick, sqlite3, Wine
# and the SQLite ODBC driver (scripts/packages.txt).
set -euo pipefail
[ $# -eq 5 ] || {
    echo "usage: $0 tovrik.exe tovrik-cli.exe tovrik-window-probe.exe tovrik-sample-db.exe out-dir" >&2
    exit 64
}
app=$(realpath "$1") cli=$(realpath "$2") probe=$(realpath "$3") sampledb=$(realpath "$4")
out=$(realpath -m "$5")
root=$(cd "$(dirname "$0")/../.." && pwd)
winerun=$root/scripts/wine-run
xvfb=$root/scripts/xvfb-test-server
work=$out/work
wine=$work/wine
timeout=120

fail() {
    echo "take-pictures: $*" >&2
    exit 1
}
note() { echo "take-pictures: $*"; }

app_pid=
xvfb_started=
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    "$winerun" --stop "$wine" || true
    if [ -n "$xvfb_started" ]; then "$xvfb" stop "$work/xvfb" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT

"$winerun" --stop "$wine"
rm -rf "$work"
rm -f "$out"/window-*.png "$out"/console-*.txt "$out"/journal.txt
mkdir -p "$work/odbc"

xvfb_started=1
DISPLAY=$("$xvfb" start "$work/xvfb" -screen 0 1024x768x24) || fail "Xvfb did not start"
export DISPLAY

# The prefix: the Windows fonts that the window and its boxes name drawn with the IPA gothic
# fonts (as in the end-to-end test), the title bars drawn by Wine (no window manager runs), and
# Wine's Marlett font for the title bars' buttons.
"$root/scripts/wine-japanese-fonts" "$wine" '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
    '"Decorated"="N"'
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] || fail "$marlett is missing (package fonts-wine)"
cp "$marlett" "$wine/prefix/drive_c/windows/Fonts/"

# The suite: a data source of the SQLite driver, and the settings file naming it with the
# database name NUVRAL. The SQLite driver takes that name as its file, relative to the folder the
# program runs in: each part below runs in a folder whose file NUVRAL is its database, and the
# window shows 接続データベース：NUVRAL as at an office.
triplet=$(dpkg-architecture -qDEB_BUILD_MULTIARCH 2>/dev/null || gcc -print-multiarch)
driver=/usr/lib/$triplet/odbc/libsqlite3odbc.so
[ -f "$driver" ] || fail "$driver is missing (package libsqliteodbc)"
printf '[SQLite3]\nDriver=%s\n' "$driver" >"$work/odbc/odbcinst.ini"
printf '[NuvralSuite]\nDriver=SQLite3\nDatabase=NUVRAL\n' >"$work/odbc/odbc.ini"
export ODBCSYSINI=$work/odbc
settings=$wine/prefix/drive_c/users/Public/Documents/TachographIni
mkdir -p "$settings"
printf '%s\r\n' '[AllUser\\]' 'CopyFlg=1' '[Config]' 'TachographIni=True' \
    '[AllUser\ZuzurodeZoz\Login]' 'DSN=NuvralSuite' 'DBN=NUVRAL' 'UID=' 'PWD=' \
    >"$settings/TachoGraph.int"

# make_database <folder> <tovrik-sample-db options...>: <folder>/NUVRAL
make_database() {
    local folder=$1
    shift
    mkdir -p "$folder"
    (cd "$folder" && "$winerun" "$wine" "$sampledb" --connect 'Driver=SQLite3;Database=NUVRAL;' \
        "$@" >/dev/null)
}

# --- The window ---------------------------------------------------------------------------

probe() { "$winerun" "$wine" "$probe" "$@"; }
state_file=$work/state.txt
read_state() { probe state >"$state_file" 2>/dev/null; }
field() { awk -F '\t' -v name="$1" -v n="$2" '$1 == name { print $n }' "$state_file"; }
centre() { awk -F '\t' -v name="$1" '$1 == name { print int($3 + $5 / 2), int($4 + $6 / 2) }' "$state_file"; }

# wait_for <description> <shell condition>: polls the window's state until the condition holds.
wait_for() {
    local what=$1 condition=$2 deadline=$((SECONDS + timeout))
    while :; do
        if read_state && eval "$condition"; then return 0; fi
        if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
            fail "the window ended while waiting for $what: $(cat "$work/app.out")"
        fi
        [ $SECONDS -lt $deadline ] || fail "no $what within ${timeout}s; window: $(cat "$state_file")"
        sleep 0.1
    done
}

# start_app <folder>: the window on <folder>/NUVRAL, shown and settled.
start_app() {
    : >"$work/app.out"
    (cd "$1" && USERNAME=operator "$winerun" "$wine" "$app" >>"$work/app.out" 2>&1) &
    app_pid=$!
    wait_for "window" '[[ "$(field Label3 7)" == 接続データベース：* ]]'
    # What the window tells at its start stands in Label2 once it has looked at the database: a
    # few seconds for it to appear (a window that tells nothing at its start is taken as it is),
    # then the window unchanged over three readings.
    local deadline=$((SECONDS + 5)) same=0
    rm -f "$work/previous-state"
    while [ -z "$(field Label2 7)" ] && [ $SECONDS -lt $deadline ]; do
        sleep 0.2
        read_state || true
    done
    wait_for "a settled window" 'if cmp -s "$state_file" "$work/previous-state"; then same=$((same + 1)); else same=0; fi
        cp "$state_file" "$work/previous-state"; [ "$same" -ge 2 ]'
}

expect_exit() {
    local deadline=$((SECONDS + timeout))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the window did not end within ${timeout}s"
        sleep 0.2
    done
    wait "$app_pid" || true
    app_pid=
}

click() { xdotool mousemove "$1" "$2" click 1; }

# The X windows titled Nuvral日付修正: the main window and, while it is open, the message box.
titled_windows() { xdotool search --name '^Nuvral日付修正$' 2>/dev/null || true; }

# shot <name> <X window>...: the given windows, frames included, as the screen shows them (the
# later ones over the earlier), on a transparent ground. Taken once two looks at the screen
# agree, so that no control is caught half drawn; a window that keeps changing (a run's
# progress) is taken at the third look.
shot() {
    local name=$1 id boxes="" look
    shift
    for id in "$@"; do
        boxes+=$(xdotool getwindowgeometry --shell "$id" |
                 awk -F= '{ v[$1] = $2 } END { print v["X"], v["Y"], v["WIDTH"], v["HEIGHT"] }')$'\n'
    done
    import -window root "$work/screen.png"
    for look in 1 2; do
        sleep 0.2
        import -window root "$work/screen-again.png"
        if cmp -s <(convert "$work/screen.png" rgb:-) <(convert "$work/screen-again.png" rgb:-); then
            break
        fi
        mv -f "$work/screen-again.png" "$work/screen.png"
    done
    local left top right bottom x y w h
    read -r left top right bottom < <(awk 'NF == 4 {
            if (n++ == 0 || $1 < l) l = $1
            if (n == 1 || $2 < t) t = $2
            if (n == 1 || $1 + $3 > r) r = $1 + $3
            if (n == 1 || $2 + $4 > b) b = $2 + $4
        } END { print l, t, r, b }' <<<"$boxes")
    local picture=(-size "$((right - left))x$((bottom - top))" xc:none)
    while read -r x y w h; do
        [ -n "$x" ] || continue
        picture+=("(" "$work/screen.png" -crop "${w}x${h}+$x+$y" +repage ")"
                  -geometry "+$((x - left))+$((y - top))" -composite)
    done <<<"$boxes"
    # The picture holds no time stamp of its own.
    convert "${picture[@]}" -strip "$out/$name.png"
}

# set_month <picker> <yyyy> <mm>: as an operator types it, the year field first.
set_month() {
    local x y
    read -r x y < <(awk -F '\t' -v name="$1" '$1 == name { print $3 + 14, int($4 + $6 / 2) }' "$state_file")
    click "$x" "$y"
    xdotool type --delay 50 "$2"
    xdotool key Right
    xdotool type --delay 50 "$3"
    wait_for "$2/$3 on $1" '[ "$(field '"$1"' 7)" = '"$2/$3"' ]'
}

note "the window"
make_database "$work/window" --month 2019/04 --affected 30000 --unaffected 8 --other-month 10000
cp "$work/window/NUVRAL" "$work/window-original.db"
start_app "$work/window"
main=$(titled_windows)
[ "$(wc -w <<<"$main")" = 1 ] || fail "expected one window titled Nuvral日付修正, found: $main"
shot window-start "$main"
set_month dtpInputDate 2019 04
set_month dtpInputEnd 2019 05
# The pointer off the controls, so that no button is drawn as hovered.
xdotool mousemove $(centre Label5)
read_state
shot window-months "$main"
click $(centre cmdStart)
xdotool mousemove $(centre Label5)
wait_for "progress" '[[ "$(field Label2 7)" =~ ^([0-9]+)/([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" != "${BASH_REMATCH[2]}" ]'
shot window-during "$main"
wait_for "report" '[ "$(field cmdEnd 2)" = 1 ] && [[ "$(field Label2 7)" == *件の修正が終了しました* ]]'
shot window-report "$main"
click $(centre cmdEnd)
expect_exit

note "the error box"
mkdir -p "$work/error"
cp "$work/window-original.db" "$work/error/NUVRAL"
sqlite3 "$work/error/NUVRAL" "DROP TABLE OpData"
start_app "$work/error"
main=$(titled_windows)
click $(centre cmdStart)
xdotool mousemove $(centre Label5)
# The box is modal; its text is on standard error as it opens.
wait_for "error box" 'grep -q "処理中にエラーが発生しました" "$work/app.out"'
box=
deadline=$((SECONDS + timeout))
while [ -z "$box" ]; do
    for id in $(titled_windows); do
        [ "$id" = "$main" ] || box=$id
    done
    [ -n "$box" ] || [ $SECONDS -lt $deadline ] || fail "no message box on the screen"
    sleep 0.2
done
# Drawn once it is mapped: a moment for its first paint.
sleep 1
shot window-error "$main" "$box"
read -r x y < <(xdotool getwindowgeometry --shell "$box" |
                awk -F= '{ v[$1] = $2 } END { print v["X"] + v["WIDTH"] / 2, v["Y"] + v["HEIGHT"] / 2 }')
xdotool mousemove "$x" "$y" key Return
wait_for "the window after the error" '[ "$(field cmdEnd 2)" = 1 ]'
click $(centre cmdEnd)
expect_exit

# --- tovrik-cli.exe -------------------------------------------------------------------------

# console <name> <arguments...>: tovrik-cli.exe run in the demo's folder, its two outputs in one
# text as they come, the command line first as a console shows it.
console() {
    local name=$1 status=0
    shift
    printf 'C:\\Program Files\\Tovrik>tovrik-cli.exe %s\n' "$*" >"$out/$name.txt"
    (cd "$work/console" && USERNAME=operator "$winerun" "$wine" "$cli" "$@" >"$work/cli.out" 2>&1) ||
        status=$?
    tr -d '\r' <"$work/cli.out" >>"$out/$name.txt"
    [ "$status" = 0 ] || fail "tovrik-cli.exe $* ended with $status: $(cat "$out/$name.txt")"
}

note "tovrik-cli.exe"
make_database "$work/console" --month 2019/04 --affected 12 --unaffected 8 --other-month 4
console console-scan --scan
console console-run --from 2019/04 --to 2019/05
journal=$(sed -n 's/^tovrik-cli: 作業記録 //p' "$out/console-run.txt")
[ -n "$journal" ] || fail "the run named no journal: $(cat "$out/console-run.txt")"
# C:\users\Public\... in the prefix.
journal_file=$wine/prefix/drive_c/${journal#C:\\}
journal_file=${journal_file//\\//}
[ -f "$journal_file" ] || fail "no journal at $journal_file"
cp "$journal_file" "$out/journal.txt"
console console-undo --undo "$journal"
note "done: $(cd "$out" && ls | tr '\n' ' ')"
