#!/usr/bin/env bash
# The package for Windows offices. Cross-builds the window tovrik.exe and tovrik-cli.exe in
# Release with MinGW-w64 (cmake/mingw-w64.cmake, no tests), checks that both import only DLLs
# that are part of Windows itself, and puts them with the Japanese operator's guide
# (packaging/windows/guide-ja.txt) into <out-dir>:
#   tovrik-<version>-x64.msi  per-machine Windows Installer package (wixl): Program Files\Tovrik,
#                             Start-menu shortcuts to the window and the guide
#   tovrik-<version>-x64.zip  the same three files, for offices that copy programs by hand
# The version is the CMake project version. Needs the packages wixl, msitools and zip
# (scripts/packages.txt).
#
# Usage: scripts/package-windows.sh [--build DIR] [--no-build] [out-dir]
#   --build DIR  the cross build folder (default: build-package-windows)
#   --no-build   package DIR/bin/tovrik.exe and tovrik-cli.exe as they are
#   out-dir      where the packages go (default: <build>/package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package-windows
do_build=1
out=
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$(realpath -m "$2"); shift ;;
        --no-build) do_build=0 ;;
        -*) echo "usage: scripts/package-windows.sh [--build DIR] [--no-build] [out-dir]" >&2
            exit 64 ;;
        *) out=$(realpath -m "$1") ;;
    esac
    shift
done
out=${out:-$build/package}
programs=(tovrik.exe tovrik-cli.exe)

fail() {
    echo "package-windows: $*" >&2
    exit 1
}

for tool in wixl msibuild msiinfo zip x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

# A Windows Installer product version is major.minor.build, each part bounded.
version=$(sed -n 's/^project(Tovrik VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if ! [[ $version =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,5})$ ]] ||
   [ "${BASH_REMATCH[1]}" -gt 255 ] || [ "${BASH_REMATCH[2]}" -gt 255 ] ||
   [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
    fail "the project version \"$version\" in CMakeLists.txt is not major.minor.patch within 255.255.65535"
fi

if [ "$do_build" = 1 ]; then
    # TOVRIK_BUILD_GUI is the Qt window; the Windows build makes its own window.
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_TESTS=OFF -DTOVRIK_BUILD_GUI=OFF \
        -DTOVRIK_WERROR=ON >/dev/null
    cmake --build "$build" -j "$(nproc)"
fi
for program in "${programs[@]}"; do
    [ -f "$build/bin/$program" ] || fail "$build/bin/$program was not built"
done

# The programs must start on an office PC as they are: no compiler runtime (libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll) or other DLL that only a build machine has.
declare -A system_dll=()
for dll in advapi32 comctl32 comdlg32 dwmapi gdi32 imm32 kernel32 msvcrt odbc32 ole32 oleaut32 \
           shell32 shlwapi user32 uxtheme version ws2_32; do
    system_dll[$dll.dll]=1
done
for program in "${programs[@]}"; do
    imports=$(x86_64-w64-mingw32-objdump -p "$build/bin/$program" |
              sed -n 's/^\s*DLL Name: *//p' | tr '[:upper:]' '[:lower:]')
    [ -n "$imports" ] || fail "$program: no imports found (objdump -p)"
    foreign=()
    for dll in $imports; do
        [ -n "${system_dll[$dll]:-}" ] || foreign+=("$dll")
    done
    [ ${#foreign[@]} -eq 0 ] ||
        fail "$program imports DLLs that are not part of Windows: ${foreign[*]}"
    echo "package-windows: $program imports only Windows DLLs: ${imports//$'\n'/ }"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/stage
mkdir -p "$stage" "$out"
for program in "${programs[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/$program" "$build/bin/$program"
done
# Notepad and every editor on Windows read UTF-8 with a byte-order mark and CRLF line ends.
{ printf '\xef\xbb\xbf'; sed 's/\r*$/\r/' "$root/packaging/windows/guide-ja.txt"; } \
    >"$stage/guide-ja.txt"

name=tovrik-$version-x64
msi=$work/$name.msi
# wixl takes the sources relative to the current folder.
(cd "$stage" && wixl --arch x64 -D Version="$version" -o "$msi" \
    "$root/packaging/windows/tovrik.wxs") || fail "wixl could not build $name.msi"
# The Japanese texts: the database's strings become code page 932 (Japanese Windows' ANSI code
# page), then the ASCII names that wixl wrote are replaced.
window_name='Nuvral日付修正'
guide_name='Nuvral日付修正 操作ガイド'
printf '\r\n\r\n932\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
msibuild "$msi" -i "$work/_ForceCodepage.idt" \
    -q "UPDATE Shortcut SET Name='$window_name' WHERE Shortcut='WindowShortcut'" \
    -q "UPDATE Shortcut SET Name='$guide_name' WHERE Shortcut='GuideShortcut'" \
    -q "UPDATE LaunchCondition SET Description='より新しいバージョンの Tovrik がインストールされています。' WHERE Condition='NOT WIX_DOWNGRADE_DETECTED'" ||
    fail "msibuild could not set the Japanese texts of $name.msi"
shortcuts=$(msiinfo export "$msi" Shortcut)
for text in "$window_name" "$guide_name"; do
    grep -qF "	$text	" <<<"$shortcuts" || fail "$name.msi lacks the shortcut \"$text\""
done

(cd "$stage" && zip -q -X "$work/$name.zip" "${programs[@]}" guide-ja.txt)
mv -f "$msi" "$work/$name.zip" "$out/"
echo "package-windows: version $version"
ls -l "$out/$name.msi" "$out/$name.zip"
