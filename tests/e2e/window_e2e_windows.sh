#!/usr/bin/env bash
# The Windows window, tovrik.exe, end to end under Wine on a private X server, driven as an
# operator drives it: the mouse and the keyboard through xdotool, what the window shows read by
# tovrik-window-probe.exe (as accessibility tools read it), the database through Windows ODBC
# (Wine's odbc32 and the host's SQLite driver) and checked row by row with sqlite3.
#
#   1. A demo database behind a data source registered on the 32-bit side only (as the suite's
#      32-bit installer leaves it; the 64-bit side under Wine is the host's odbc.ini): Tab through the focus order, both month pickers set to 2019/04 with the
#      keyboard, a click on 開始, the report "12件の修正が終了しました", every row of the four
#      tables as expected (the 12 operations of 2019/04 moved with all their rows, nothing else
#      touched), the focus back on 開始; a second copy ends silently; Enter runs the months again
#      and finds nothing to correct; a click on 閉じる, exit status 0. Then with a table gone:
#      the error box (its text also on standard error), closed with Enter, leaves the status
#      empty and both buttons enabled. The window names the months to correct in Label2 once it
#      is shown, and says so on a database with nothing to correct.
#   2. A database of 60,000 operations, the pickers as the window opens (the current month and
#      2019/04), a click on 開始, and the window's close command (Alt+F4) while the run shows
#      i/N: exit status 0, every operation fully moved or untouched, and not all of them moved
#      (what the run had not committed was rolled back).
#
#   3. The window at each display scale, 96, 120, 144 and 192 dpi (the prefix's LogPixels, which
#      Wine reads when a program starts): the first picker set to 2019/12, a run to its
#      three-line report; the client area and every control are the 96-dpi ones scaled, and
#      nothing is cut off: every text (the labels, the report's three lines, the captions, the
#      pickers' digits) fits its control in the room it takes in its font, the digits before the
#      pickers' up-down arrows.
#
# Pictures of the window before, during and after a run, of the error box and of the window at
# each scale (windows-dpi-<dpi>.png) are left in <work>/shots.
#
# Usage: window_e2e_windows.sh <tovrik.exe> <tovrik-window-probe.exe> <tovrik-sample-db.exe>
#                              <odbcinst.ini> <work dir>
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 tovrik.exe probe.exe sample-db.exe odbcinst.ini work-dir" >&2; exit 64; }
app=$(realpath "$1") probe=$(realpath "$2") sampledb=$(realpath "$3") odbcinst=$(realpath "$4")
work=$(realpath -m "$5")
root=$(cd "$(dirname "$0")/../.." && pwd)
winerun=$root/scripts/wine-run
xvfb=$root/scripts/xvfb-test-server
wine=$work/wine
shots=$work/shots
timeout=60

fail() {
    echo "window-e2e: FAIL: $*" >&2
    exit 1
}
note() { echo "window-e2e: $*"; }

# Everything this test started goes at its end: the program, Wine, the X server.
xvfb_started=
app_pid=
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    "$winerun" --stop "$wine" || true
    if [ -n "$xvfb_started" ]; then "$xvfb" stop "$work/xvfb" || true; fi
}
trap cleanup EXIT
trap 'exit 1' TERM INT

"$winerun" --stop "$wine"
rm -rf "$work"
mkdir -p "$work/odbc" "$shots"

# A private X server; without a window manager, windows have no title bar.
xvfb_started=1
DISPLAY=$("$xvfb" start "$work/xvfb" -screen 0 800x600x24) || fail "Xvfb did not start"
export DISPLAY

# A Wine prefix of this test (the desktop process it starts keeps the display it started with).
# Windows fonts the window and its message boxes name are drawn with the IPA gothic fonts;
# without this, Wine draws digits and Latin letters as boxes. The half-width digits of IPAGothic
# are as wide as those of the Windows fonts.
"$winerun" "$wine" cmd /c exit
{
    printf '\xff\xfe'
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        for name in "ＭＳ Ｐゴシック" "MS PGothic" "ＭＳ ゴシック" "MS Gothic" "MS UI Gothic" \
                    "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Meiryo UI" "Yu Gothic UI"; do
            printf '"%s"="IPAGothic"\r\n' "$name"
        done
    } | iconv -f UTF-8 -t UTF-16LE
} >"$work/fonts.reg"
"$winerun" "$wine" regedit /S "Z:${work//\//\\}\\fonts.reg"

# The suite's settings in the prefix's own public folder (Wine sets "PUBLIC" itself): the data
# source, and the copy marker that keeps the registry out of it.
settings=$wine/prefix/drive_c/users/Public/Documents/TachographIni
mkdir -p "$settings"
write_settings() {
    printf '%s\r\n' '[AllUser\\]' 'CopyFlg=1' '[Config]' 'TachographIni=True' \
        '[AllUser\ZuzurodeZoz\Login]' "DSN=$1" 'DBN=' 'UID=' 'PWD=' >"$settings/TachoGraph.int"
}
cp "$odbcinst" "$work/odbc/odbcinst.ini"
export ODBCSYSINI=$work/odbc

# make_database <name> <tovrik-sample-db options...>: <work>/<name>.db behind the data source
# <name>, and an untouched copy <work>/<name>-original.db to judge the rows against.
make_database() {
    local name=$1
    shift
    printf '[%s]\nDriver=SQLite3\nDatabase=%s\n\n' "$name" "$work/$name.db" >>"$work/odbc/odbc.ini"
    "$winerun" "$wine" "$sampledb" --connect "DSN=$name;" "$@" >/dev/null
    cp "$work/$name.db" "$work/$name-original.db"
}

# register_32bit_only <name>: the data source moves from odbc.ini to the 32-bit side of the
# prefix's registry (Wow6432Node), its driver's DLL path being one of that side.
register_32bit_only() {
    local name=$1 key='HKLM\Software\ODBC\ODBC.INI'
    sed -i "/^\[$name\]\$/,/^\$/d" "$work/odbc/odbc.ini"
    "$winerun" "$wine" reg add "$key\\ODBC Data Sources" /v "$name" /d SQLite3 /f /reg:32 >/dev/null
    "$winerun" "$wine" reg add "$key\\$name" /v Driver /d 'C:\windows\syswow64\sqlite3odbc.dll' \
        /f /reg:32 >/dev/null
    "$winerun" "$wine" reg add "$key\\$name" /v Database /d "$work/$name.db" /f /reg:32 >/dev/null
}

probe() { "$winerun" "$wine" "$probe" "$@"; }
# The state of one control: field 2 enabled, 3-6 the box on the screen, 7 the text.
state_file=$work/state.txt
read_state() { probe state >"$state_file" 2>/dev/null; }
field() { awk -F '\t' -v name="$1" -v n="$2" '$1 == name { print $n }' "$state_file"; }
centre() { awk -F '\t' -v name="$1" '$1 == name { print int($3 + $5 / 2), int($4 + $6 / 2) }' "$state_file"; }
focused() { sed -n 's/^focus //p' "$state_file"; }

# wait_for <description> <shell condition>: polls the window's state until the condition holds.
wait_for() {
    local what=$1 condition=$2 deadline=$((SECONDS + timeout))
    while :; do
        if read_state && eval "$condition"; then return 0; fi
        if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
            fail "the program ended while waiting for $what: $(cat "$work/app.out")"
        fi
        [ $SECONDS -lt $deadline ] || fail "no $what within ${timeout}s; window: $(cat "$state_file"); output: $(cat "$work/app.out")"
        sleep 0.2
    done
}

start_app() {
    : >"$work/app.out"
    USERNAME=operator "$winerun" "$wine" "$app" >>"$work/app.out" 2>&1 &
    app_pid=$!
    wait_for "window" '[ "$(field Label3 7)" = "接続データベース：" ]'
}

# expect_exit <status>: the program ends by itself within the time limit with that status.
expect_exit() {
    local deadline=$((SECONDS + timeout)) status=0
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the program did not end within ${timeout}s"
        sleep 0.2
    done
    wait "$app_pid" || status=$?
    app_pid=
    [ "$status" = "$1" ] || fail "exit status $status, expected $1; output: $(cat "$work/app.out")"
}

click() {
    xdotool mousemove "$1" "$2" click 1
}

# A picture of the window's client area, as the last state read shows it.
shot() {
    import -window root -crop "$(field frmMain 5)x$(field frmMain 6)+$(field frmMain 3)+$(field frmMain 4)" \
        +repage "$shots/$1.png"
}

# box <name>: the box of a control in the window's client area, "left top width height".
box() {
    awk -F '\t' -v name="$1" '$1 == "frmMain" { x = $3; y = $4 }
        $1 == name { print $3 - x, $4 - y, $5, $6 }' "$state_file"
}

# ink <png> <left> <top> <width> <height>: the box of the dark (text) pixels in that part of a
# picture, "left top right bottom" within it; nothing when it has none.
ink() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -threshold 40% -negate \
        -bordercolor black -border 1 -format '%@' info: 2>/dev/null |
        awk -F '[x+]' '$1 > 0 { print $3 - 1, $4 - 1, $3 + $1 - 2, $4 + $2 - 2 }'
}

# check_scaled <dpi> <state at 96 dpi>: the client area and every control's box in it are those
# at 96 dpi scaled to <dpi>, each edge rounded to the nearest pixel.
check_scaled() {
    local wrong
    wrong=$(awk -F '\t' -v dpi="$1" '
        function scaled(v) { return int(v * dpi / 96 + 0.5) }
        function edges(x, y) { return ($3 - x) " " ($4 - y) " " ($3 - x + $5) " " ($4 - y + $6) }
        $1 == "frmMain" { x = $3; y = $4 }
        NF < 6 || $1 ~ /\./ { next }
        NR == FNR { base[$1] = edges(x, y); next }
        {
            split(base[$1], b, " ")
            expected = scaled(b[1]) " " scaled(b[2]) " " scaled(b[3]) " " scaled(b[4])
            if (edges(x, y) != expected) print $1 " at " edges(x, y) ", not " expected
        }' "$2" "$state_file")
    [ -z "$wrong" ] || fail "at $1 dpi: $wrong"
}

# check_unclipped <dpi> <picture>: every text of the window fits where it is drawn, in the room
# it takes in its font (the probe's measure): a label's before its right and bottom edges (Label1's
# before the first picker, which lies over its right end), a caption inside its button's edges
# and focus frame, a picker's digits, from where the picture shows them to begin, before its
# up-down arrows.
check_unclipped() {
    local dpi=$1 png=$2 name x y w h tw th arrows start
    for name in Label1 Label2 Label3 Label4 cmdStart cmdEnd dtpInputDate dtpInputEnd; do
        read -r x y w h < <(box "$name")
        read -r _ _ tw th < <(box "$name.text")
        case $name in
            Label1) w=$(($(box dtpInputDate | cut -d ' ' -f 1) - x)) ;;
            cmd*) w=$((w - 8)) h=$((h - 8)) ;;
            dtp*)
                read -r arrows _ < <(box "$name.arrows")
                read -r start _ < <(ink "$png" "$x" "$y" $((arrows - x)) "$h")
                w=$((arrows - x - ${start:-0} - 1)) h=$((h - 4))
                ;;
        esac
        [ "$tw" -le "$w" ] && [ "$th" -le "$h" ] ||
            fail "at $dpi dpi the text of $name takes ${tw}x$th, more than its ${w}x$h"
    done
}

# check_rows <name> <from> <to> all|part: every row of the four tables of <name>.db against its
# original: the operations read in between <from> (inclusive) and <to> (exclusive) and dated
# before 2008 moved by exactly 7168 days in every date column of every row (all of them, or
# fewer than all and the rest untouched, each one whole), every other row untouched.
check_rows() {
    local name=$1 from=$2 to=$3 mode=$4
    local moved="round((julianday(n.%s) - julianday(o.%s)) * 86400000) = 7168 * 86400000"
    row_state() {  # <table> <key columns> <date columns...>
        local table=$1 keys=$2 same="" shifted="" column
        shift 2
        for column in "$@"; do
            same+="${same:+ AND }n.$column IS o.$column"
            # shellcheck disable=SC2059
            shifted+="${shifted:+ AND }$(printf "$moved" "$column" "$column")"
        done
        local id=GeneralID
        [ "$table" = General ] && id=ID
        echo "SELECT n.$id AS id, CASE WHEN $same THEN 'same' WHEN $shifted THEN 'moved'" \
             "ELSE 'bad' END AS st FROM main.$table n JOIN o.$table o USING ($keys)"
    }
    local report
    report=$(sqlite3 -batch "$work/$name.db" <<SQL
ATTACH '$work/$name-original.db' AS o;
CREATE TEMP TABLE selected AS SELECT ID FROM o.General
    WHERE InputDate >= '$from' AND InputDate < '$to' AND Date < '2008-01-01 00:00:00';
CREATE TEMP TABLE rows AS
    $(row_state General ID Date StartTime EndTime)
    UNION ALL $(row_state DriversTime "GeneralID, DriverID" StartTime EndTime Date)
    UNION ALL $(row_state EventLog "GeneralID, SeqNo" Date)
    UNION ALL $(row_state OpData "GeneralID, Page" RecDate RecStart RecEnd);
SELECT 'rows', count(*) FROM rows;
SELECT 'rows-before', (SELECT count(*) FROM o.General) + (SELECT count(*) FROM o.DriversTime)
    + (SELECT count(*) FROM o.EventLog) + (SELECT count(*) FROM o.OpData);
SELECT 'rows-now', (SELECT count(*) FROM General) + (SELECT count(*) FROM DriversTime)
    + (SELECT count(*) FROM EventLog) + (SELECT count(*) FROM OpData);
SELECT 'bad', count(*) FROM rows WHERE st = 'bad';
SELECT 'split', count(*) FROM (SELECT id FROM rows GROUP BY id HAVING count(DISTINCT st) > 1);
SELECT 'moved-unselected', count(*) FROM rows WHERE st = 'moved' AND id NOT IN selected;
SELECT 'selected', count(*) FROM selected;
SELECT 'moved', count(DISTINCT id) FROM rows WHERE st = 'moved';
SQL
    )
    value() { awk -F '|' -v key="$1" '$1 == key { print $2 }' <<<"$report"; }
    note "$name: $(tr '\n|' ' =' <<<"$report")"
    [ "$(value rows)" = "$(value rows-before)" ] && [ "$(value rows)" = "$(value rows-now)" ] ||
        fail "$name: rows were added or lost"
    [ "$(value bad)" = 0 ] || fail "$name: rows with dates neither untouched nor moved by 1024 weeks"
    [ "$(value split)" = 0 ] || fail "$name: operations moved in part"
    [ "$(value moved-unselected)" = 0 ] || fail "$name: operations outside the selection moved"
    local selected moved_ops
    selected=$(value selected) moved_ops=$(value moved)
    if [ "$mode" = all ]; then
        [ "$moved_ops" = "$selected" ] || fail "$name: $moved_ops of $selected operations moved"
    else
        [ "$moved_ops" -lt "$selected" ] || fail "$name: all $selected operations moved; the close came too late"
    fi
}

note "1: a run over 2019/04 on a demo database"
make_database TovrikDemo --month 2019/04 --affected 12 --unaffected 8 --other-month 4
register_32bit_only TovrikDemo
write_settings TovrikDemo
start_app
# The months hint: what the scan found, in Label2's lines (the probe joins them with " | ").
wait_for "months hint" '[ "$(field Label2 7)" = "修正が必要な運行: 16件 | 読込年月 2019/04〜2019/05 (2か月)" ]'
[ "$(focused)" = dtpInputDate ] || fail "the focus is on $(focused), not on dtpInputDate"
[ "$(field dtpInputEnd 7)" = 2019/04 ] || fail "dtpInputEnd shows $(field dtpInputEnd 7)"
shot windows-before
# Tab follows the focus order and comes round to the first picker again.
xdotool mousemove $(centre Label5)
for next in cmdStart cmdEnd dtpInputEnd dtpInputDate; do
    xdotool key Tab
    wait_for "the focus on $next" '[ "$(focused)" = '"$next"' ]'
done
# The year field is the picker's left part: click it, type the year, step right, type the month.
read -r x y < <(awk -F '\t' '$1 == "dtpInputDate" { print $3 + 14, int($4 + $6 / 2) }' "$state_file")
click "$x" "$y"
xdotool type --delay 50 2019
xdotool key Right
xdotool type --delay 50 04
wait_for "2019/04 on dtpInputDate" '[ "$(field dtpInputDate 7)" = 2019/04 ]'
click $(centre cmdStart)
wait_for "report" '[ "$(field cmdEnd 2)" = 1 ] && [[ "$(field Label2 7)" == 12件の修正が終了しました* ]]'
[[ "$(field Label2 7)" =~ ^12件の修正が終了しました\ \|\ 開始：[0-9/]+\ [0-9:]+\ \|\ 終了：[0-9/]+\ [0-9:]+$ ]] ||
    fail "report: $(field Label2 7)"
[ "$(field pbrCount 7)" = 12/12 ] || fail "bar at $(field pbrCount 7), expected full"
[ "$(field cmdStart 2)" = 1 ] || fail "開始 stays disabled"
[ "$(focused)" = cmdStart ] || fail "after the run the focus is on $(focused), not on 開始"
shot windows-after
check_rows TovrikDemo '2019-04-01 00:00:00' '2019-05-01 00:00:00' all
# A second copy ends at once and silently, and leaves the first one running.
second=0
USERNAME=operator "$winerun" "$wine" "$app" >"$work/second.out" 2>&1 || second=$?
[ "$second" = 0 ] && [ ! -s "$work/second.out" ] ||
    fail "second copy: exit status $second, output: $(cat "$work/second.out")"
kill -0 "$app_pid" || fail "the first copy ended"
# Enter on the focused 開始 runs the same months again: nothing is left to correct.
xdotool mousemove $(centre Label5) key Return
wait_for "second run" '[ "$(field Label2 7)" = 修正が必要なデータはありません ] && [ "$(field cmdStart 2)" = 1 ]'
check_rows TovrikDemo '2019-04-01 00:00:00' '2019-05-01 00:00:00' all
click $(centre cmdEnd)
expect_exit 0
[ ! -s "$work/app.out" ] || fail "unexpected output: $(cat "$work/app.out")"

note "1b: a run that fails shows the error box"
sqlite3 "$work/TovrikDemo.db" "DROP TABLE OpData"
start_app
click $(centre cmdStart)
# The box is modal, and its text is on standard error before it is closed.
wait_for "error box" 'grep -qx "tovrik: Nuvral日付修正: 処理中にエラーが発生しました。" "$work/app.out"'
grep -q "OpData" "$work/app.out" || fail "the error names no table: $(cat "$work/app.out")"
box=
for id in $(xdotool search --name '^Nuvral日付修正$'); do
    [[ "$(xdotool getwindowgeometry "$id")" == *"Geometry: 312x224"* ]] || box=$id
done
[ -n "$box" ] || fail "no message box on the screen"
sleep 0.5
import -window "$box" "$shots/windows-error-box.png"
read -r x y < <(xdotool getwindowgeometry --shell "$box" |
                awk -F= '{ v[$1] = $2 } END { print v["X"] + v["WIDTH"] / 2, v["Y"] + v["HEIGHT"] / 2 }')
xdotool mousemove "$x" "$y" key Return
wait_for "the window after the error" '[ -z "$(field Label2 7)" ] && [ "$(field cmdStart 2)" = 1 ] && [ "$(field cmdEnd 2)" = 1 ]'
click $(centre cmdEnd)
expect_exit 0

note "1c: the months hint with nothing to correct"
make_database TovrikNone --month 2019/04 --affected 0 --unaffected 3
write_settings TovrikNone
start_app
wait_for "months hint" '[ "$(field Label2 7)" = "2008/01/01 より前の運行はありません" ]'
click $(centre cmdEnd)
expect_exit 0

note "2: the window closed in the middle of a run"
make_database TovrikLarge --month 2019/04 --affected 60000 --unaffected 10
write_settings TovrikLarge
start_app
click $(centre cmdStart)
# The close comes at the first progress shown (the whole run takes some 6 s here).
wait_for "progress" '[[ "$(field Label2 7)" =~ ^[0-9]+/60000$ ]] && [ "$(field Label2 7)" != 60000/60000 ]'
shot windows-during
# The window's own close command, from the keyboard (the pointer gives the window the focus).
xdotool mousemove $(centre Label5) key alt+F4
expect_exit 0
check_rows TovrikLarge '2019-04-01 00:00:00' '2019-05-01 00:00:00' part
rm -f "$work"/TovrikLarge*.db  # 160 MB; kept only when the test fails

note "3: the window at 96, 120, 144 and 192 dpi"
make_database TovrikScale --month 2019/12 --affected 3 --unaffected 2
write_settings TovrikScale
for dpi in 96 120 144 192; do
    if [ "$dpi" != 96 ]; then
        "$winerun" "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
            /d "$dpi" /f >/dev/null
    fi
    cp "$work/TovrikScale-original.db" "$work/TovrikScale.db"
    start_app
    # The year field is the picker's left part, the month field its right part.
    read -r x y < <(awk -F '\t' '$1 == "dtpInputDate" { print $3 + int($5 / 7), int($4 + $6 / 2) }' "$state_file")
    click "$x" "$y"
    xdotool type --delay 50 2019
    xdotool key Right
    xdotool type --delay 50 12
    wait_for "2019/12 on dtpInputDate" '[ "$(field dtpInputDate 7)" = 2019/12 ]'
    click $(centre cmdStart)
    wait_for "report" '[ "$(field cmdEnd 2)" = 1 ] && [[ "$(field Label2 7)" == 3件の修正が終了しました* ]]'
    shot "windows-dpi-$dpi"
    [ "$dpi" != 96 ] || cp "$state_file" "$work/state-96.txt"
    check_scaled "$dpi" "$work/state-96.txt"
    check_unclipped "$dpi" "$shots/windows-dpi-$dpi.png"
    click $(centre cmdEnd)
    expect_exit 0
done
note "passed"
