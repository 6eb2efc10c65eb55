#!/usr/bin/env bash
# The operator's guide as one HTML file: the template with every placeholder (a name in double
# braces) replaced. "version" becomes the given version; a file name becomes that file of the
# pictures folder: a PNG picture as a data: URI, a text HTML-escaped. A placeholder without its
# file, and a picture that is not a PNG, fail the whole guide.
#
# Usage: assemble-guide.sh <template> <pictures-dir> <version> <out.html>
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 template pictures-dir version out.html" >&2; exit 64; }
template=$1 pictures=$2 version=$3 out=$4
# A replacement's "&" stays an "&" (bash 5.2 would put the matched text there).
shopt -u patsub_replacement 2>/dev/null || true

fail() {
    echo "assemble-guide: $*" >&2
    exit 1
}

value_of() {
    local name=$1 file=$pictures/$1
    case $name in
        version) printf '%s' "$version"; return ;;
        *.png|*.txt) [ -f "$file" ] || fail "no $file for {{$name}}" ;;
        *) fail "unknown placeholder {{$name}}" ;;
    esac
    case $name in
        *.png)
            [ "$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
                fail "$file is not a PNG picture"
            printf 'data:image/png;base64,%s' "$(base64 -w 0 "$file")" ;;
        *.txt)
            # Without its last line end: the text sits between <pre> and </pre>.
            sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' "$file" ;;
    esac
}

partial=$out.partial
trap 'rm -f "$partial"' EXIT
while IFS= read -r line || [ -n "$line" ]; do
    while [[ $line =~ \{\{([A-Za-z0-9._-]+)\}\} ]]; do
        name=${BASH_REMATCH[1]}
        value=$(value_of "$name") || exit 1
        line=${line//"{{$name}}"/"$value"}
    done
    printf '%s\n' "$line"
done <"$template" >"$partial"
mv -f "$partial" "$out"
