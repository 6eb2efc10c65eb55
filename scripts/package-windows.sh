#!/usr/bin/env bash
# The packages for Windows offices. Cross-builds the window tovrik.exe and tovrik-cli.exe in
# Release with MinGW-w64, 64-bit (cmake/mingw-w64.cmake) and 32-bit x86
# (cmake/mingw-w64-i686.cmake), no tests, warnings as errors. Checks each program statically:
# its machine type (`file`: PE32+ x86-64, or PE32 Intel 80386), that it imports only DLLs that
# are part of Windows itself, that the window's manifest names the same processor (amd64, x86),
# and that an x86 program is large-address-aware. No 32-bit program can run on the build
# machines, so these checks are all the x86 programs get here. Then it puts the programs with
# the Japanese operator's guide guide-ja.html into <out-dir>: one HTML file with pictures of the
# x64 programs, made by scripts/make-guide.sh in the x64 build (packaging/guide):
#   tovrik-<version>-x64.msi  per-machine Windows Installer package (wixl): Program Files\Tovrik,
#                             Start-menu shortcuts to the window and the guide
#   tovrik-<version>-x64.zip  the same three files, for offices that copy programs by hand
#   tovrik-<version>-x86.zip  the 32-bit programs and the guide, for suites whose ODBC driver
#                             exists for 32 bits only
# The version is the CMake project version. Needs the packages wixl, msitools, zip, file, both
# MinGW-w64 compilers, and for the guide Wine and Xvfb (scripts/packages.txt).
#
# Usage: scripts/package-windows.sh [--arch x64|x86] [--build DIR] [--no-build] [--guide FILE]
#                                   [out-dir]
#   --arch A      only the x64 packages or only the x86 zip (default: both; the guide always
#                 comes from the x64 build)
#   --build DIR   the x64 cross build folder (default: build-package-windows); the x86 one is
#                 DIR-x86
#   --no-build    package DIR/bin/tovrik.exe and tovrik-cli.exe and the guide DIR made, as they are
#   --guide FILE  package this guide-ja.html instead
#   out-dir       where the packages go (default: <build>/package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package-windows
do_build=1
out=
guide=
arches=(x64 x86)
usage="usage: scripts/package-windows.sh [--arch x64|x86] [--build DIR] [--no-build] [--guide FILE] [out-dir]"
while [ $# -gt 0 ]; do
    case $1 in
        --arch) case ${2:-} in x64|x86) arches=("$2") ;; *) echo "$usage" >&2; exit 64 ;; esac
                shift ;;
        --build) build=$(realpath -m "$2"); shift ;;
        --no-build) do_build=0 ;;
        --guide) [ $# -ge 2 ] || { echo "$usage" >&2; exit 64; }
                 guide=$(realpath "$2"); shift ;;
        -*) echo "$usage" >&2
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

# Per package architecture: the compilers' prefix, the toolchain, the build folder, what `file`
# says of its programs and the processor their manifest names.
declare -A triplet=([x64]=x86_64-w64-mingw32 [x86]=i686-w64-mingw32)
declare -A toolchain=([x64]=mingw-w64.cmake [x86]=mingw-w64-i686.cmake)
declare -A build_dir=([x64]=$build [x86]=$build-x86)
declare -A machine=([x64]='PE32\+ executable .*x86-64' [x86]='PE32 executable .*Intel 80386')
declare -A manifest_arch=([x64]=amd64 [x86]=x86)

for tool in wixl msibuild msiinfo zip file; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
for arch in "${arches[@]}"; do
    for tool in objdump objcopy strip; do
        command -v "${triplet[$arch]}-$tool" >/dev/null ||
            fail "${triplet[$arch]}-$tool is missing (scripts/setup.sh installs it)"
    done
done

# A Windows Installer product version is major.minor.build, each part bounded.
version=$(sed -n 's/^project(Tovrik VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if ! [[ $version =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,5})$ ]] ||
   [ "${BASH_REMATCH[1]}" -gt 255 ] || [ "${BASH_REMATCH[2]}" -gt 255 ] ||
   [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
    fail "the project version \"$version\" in CMakeLists.txt is not major.minor.patch within 255.255.65535"
fi

# The programs must start on an office PC as they are: no compiler runtime (libstdc++-6.dll,
# libgcc_s_seh-1.dll, libgcc_s_dw2-1.dll, libwinpthread-1.dll) or other DLL that only a build
# machine has.
declare -A system_dll=()
for dll in advapi32 comctl32 comdlg32 dwmapi gdi32 imm32 kernel32 msvcrt odbc32 ole32 oleaut32 \
           shell32 shlwapi user32 uxtheme version ws2_32; do
    system_dll[$dll.dll]=1
done

# check_program <arch> <program.exe>: what can be known of it without running it.
check_program() {
    local arch=$1 exe=$2 program headers imports foreign=() dll
    program=$arch/$(basename "$exe")
    file -b "$exe" | grep -Eq "^${machine[$arch]}" ||
        fail "$program: file(1) says \"$(file -b "$exe")\", expected ${machine[$arch]}"
    headers=$("${triplet[$arch]}-objdump" -p "$exe")
    imports=$(sed -n 's/^\s*DLL Name: *//p' <<<"$headers" | tr '[:upper:]' '[:lower:]')
    [ -n "$imports" ] || fail "$program: no imports found (objdump -p)"
    for dll in $imports; do
        [ -n "${system_dll[$dll]:-}" ] || foreign+=("$dll")
    done
    [ ${#foreign[@]} -eq 0 ] ||
        fail "$program imports DLLs that are not part of Windows: ${foreign[*]}"
    echo "package-windows: $program imports only Windows DLLs: ${imports//$'\n'/ }"
    if [ "$arch" = x86 ]; then
        grep -q 'large address aware' <<<"$headers" || fail "$program is not large-address-aware"
    fi
    [ "$(basename "$exe")" = tovrik.exe ] || return 0
    # The manifest is UTF-8 text in the resources; its own assemblyIdentity names the processor.
    local rsrc=$work/rsrc.bin architecture
    "${triplet[$arch]}-objcopy" -O binary --only-section=.rsrc "$exe" "$rsrc"
    architecture=$(tr -d '\r\n' <"$rsrc" | grep -ao 'name="Tovrik\.Tovrik"[^>]*' |
                   sed -n 's/.*processorArchitecture="\([^"]*\)".*/\1/p')
    [ "$architecture" = "${manifest_arch[$arch]}" ] ||
        fail "$program: the manifest names processorArchitecture \"$architecture\", not ${manifest_arch[$arch]}"
    echo "package-windows: $program: $(file -b "$exe" | cut -d, -f1), manifest $architecture"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
for arch in "${arches[@]}"; do
    dir=${build_dir[$arch]}
    if [ "$do_build" = 1 ]; then
        cmake -S "$root" -B "$dir" -C "$root/cmake/windows-package.cmake" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchain[$arch]}" >/dev/null
        cmake --build "$dir" -j "$(nproc)" --target tovrik_win32 tovrik-cli
    fi
    stage=$work/stage-$arch
    mkdir -p "$stage"
    for program in "${programs[@]}"; do
        [ -f "$dir/bin/$program" ] || fail "$dir/bin/$program was not built"
        check_program "$arch" "$dir/bin/$program"
        "${triplet[$arch]}-strip" -o "$stage/$program" "$dir/bin/$program"
    done
done

# The guide, one file for every package.
if [ -z "$guide" ]; then
    guide=$work/guide-ja.html
    no_build=()
    [ "$do_build" = 1 ] || no_build=(--no-build)
    "$root/scripts/make-guide.sh" --build "$build" "${no_build[@]}" "$guide"
fi
for arch in "${arches[@]}"; do
    cp "$guide" "$work/stage-$arch/guide-ja.html"
done

echo "package-windows: version $version"
if [[ " ${arches[*]} " == *" x86 "* ]]; then
    # No installer for x86: it is the exception, for offices whose driver forces it.
    (cd "$work/stage-x86" && zip -q -X "$work/tovrik-$version-x86.zip" "${programs[@]}" guide-ja.html)
    mv -f "$work/tovrik-$version-x86.zip" "$out/"
    ls -l "$out/tovrik-$version-x86.zip"
fi
[[ " ${arches[*]} " == *" x64 "* ]] || exit 0
stage=$work/stage-x64

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

(cd "$stage" && zip -q -X "$work/$name.zip" "${programs[@]}" guide-ja.html)
mv -f "$msi" "$work/$name.zip" "$out/"
ls -l "$out/$name.msi" "$out/$name.zip"
