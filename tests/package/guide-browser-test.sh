#!/usr/bin/env bash
# The operator's guide in a real browser, Debian's chromium without a display (headless): it is
# one file (every picture a data: URI), it reads as UTF-8 Japanese, every picture loads (its
# naturalWidth, read in the page by a small script whose findings --dump-dom shows: a broken
# picture would only show as an icon in a screenshot), no text block is empty, and the page
# renders: a screenshot of the whole page, not blank, is left for a person to look at.
#
# Usage: tests/package/guide-browser-test.sh <guide-ja.html> [screenshot.png]
#   screenshot.png  where the picture of the page goes (default: beside the guide,
#                   guide-ja.png)
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || {
    echo "usage: tests/package/guide-browser-test.sh <guide-ja.html> [screenshot.png]" >&2
    exit 64
}
guide=$(realpath "$1")
screenshot=$(realpath -m "${2:-${guide%.html}.png}")
command -v chromium >/dev/null || { echo "guide-browser-test: chromium is missing (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-guide-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
check() {  # check <description> <command...>
    if "${@:2}"; then
        echo "guide-browser-test: ok: $1"
    else
        echo "guide-browser-test: FAILED: $1" >&2
        failures=$((failures + 1))
    fi
}

# chromium <arguments...>: headless, in a profile of its own, away from any X server; as root
# it runs only without its sandbox.
chromium_run() {
    local sandbox=()
    [ "$(id -u)" -ne 0 ] || sandbox=(--no-sandbox)
    env -u DISPLAY -u WAYLAND_DISPLAY timeout -k 10 120 chromium --headless "${sandbox[@]}" \
        --disable-gpu --no-first-run --user-data-dir="$work/profile" --hide-scrollbars \
        --window-size=1000,800 "$@" 2>>"$work/chromium.log"
}

# One file: every picture is in it, nothing is fetched from beside it or from elsewhere.
images=$(grep -o '<img [^>]*>' "$guide" || true)
image_count=$(grep -c . <<<"$images" || true)
check "the guide has pictures ($image_count)" test "$image_count" -gt 0
check "every picture is embedded (data:image/png)" \
    test "$(grep -c 'src="data:image/png;base64,' <<<"$images" || true)" = "$image_count"
check "no placeholder left" test -z "$(grep -o '{{[^}]*}}' "$guide" || true)"

# The page's own findings, appended to a copy of it.
cp "$guide" "$work/guide.html"
cat >>"$work/guide.html" <<'HTML'
<script>
addEventListener('load', () => {
  const lines = Array.from(document.images, (image) =>
    `image ${image.complete && image.naturalWidth > 0 ? 'loaded' : 'broken'} ` +
    `${image.naturalWidth}x${image.naturalHeight} ${image.alt}`);
  for (const block of document.querySelectorAll('pre')) {
    lines.push(`block ${block.textContent.trim() === '' ? 'empty' : 'filled'} ${block.className}`);
  }
  lines.push(`charset ${document.characterSet}`, `title ${document.title}`,
             `height ${document.documentElement.scrollHeight}`);
  const report = document.createElement('pre');
  report.id = 'guide-check';
  report.textContent = lines.join('\n');
  document.body.append(report);
});
</script>
HTML
chromium_run --virtual-time-budget=10000 --dump-dom "file://$work/guide.html" >"$work/dom.html" ||
    { cat "$work/chromium.log" >&2; echo "guide-browser-test: chromium --dump-dom failed" >&2; exit 1; }
sed -n '/<pre id="guide-check">/,/<\/pre>/p' "$work/dom.html" |
    sed -e 's/.*<pre id="guide-check">//' -e 's/<\/pre>.*//' >"$work/report"
[ -s "$work/report" ] || { cat "$work/chromium.log" >&2; echo "guide-browser-test: the page's script reported nothing" >&2; exit 1; }
sed 's/^/guide-browser-test: page: /' "$work/report"

loaded=$(grep -c '^image loaded [1-9]' "$work/report" || true)
check "every picture loads in the browser ($loaded of $image_count)" test "$loaded" = "$image_count"
check "no text block is empty" test -z "$(grep '^block empty' "$work/report" || true)"
check "read as UTF-8" grep -qx 'charset UTF-8' "$work/report"
check "the Japanese title reads as written" grep -qx 'title Nuvral日付修正 (Tovrik) 操作ガイド' "$work/report"

# The whole page at once, as wide as the window it was measured in.
height=$(sed -n 's/^height \([0-9]*\)$/\1/p' "$work/report")
check "the page has a height ($height px)" test "${height:-0}" -gt 800
if [ "${height:-0}" -gt 0 ]; then
    rm -f "$screenshot"
    chromium_run --window-size="1000,$height" --screenshot="$screenshot" "file://$guide" >/dev/null ||
        true
    check "screenshot taken ($screenshot)" test -s "$screenshot"
    if [ -s "$screenshot" ]; then
        # Text and pictures cover a good part of the page; a page that did not render is white.
        inked=$(convert "$screenshot" -colorspace Gray -threshold 90% -negate -format '%[fx:mean]' info:)
        check "the page renders (ink on $(awk -v f="$inked" 'BEGIN { printf "%.1f", f * 100 }')% of it)" \
            awk -v f="$inked" 'BEGIN { exit !(f > 0.03) }'
    fi
fi

[ "$failures" = 0 ] || { cat "$work/chromium.log" >&2; echo "guide-browser-test: $failures checks failed" >&2; exit 1; }
echo "guide-browser-test: passed"
