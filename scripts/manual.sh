#!/usr/bin/env bash
# Builds the user manual into build/manual/ (or BUILD_DIR/manual/):
# instrukcja.html, one page readable offline, with the pictures of the windows
# beside it in obrazy/. The pictures are taken afresh every time by
# docs/manual_screenshots.cpp, which opens each window of the real program
# over a simulated device on an X server of its own (Xvfb).
#
#   scripts/manual.sh [BUILD_DIR]
#
# Fails when a message of the sources is missing from the manual's message
# index (scripts/manual-messages.py says which and where it goes), when a
# window cannot be shown, when the manual shows a picture that was not taken,
# or when a picture taken is not in the manual.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing pandoc xvfb xauth qt6-qpa-plugins fonts-dejavu-core poppler-utils python3

# First, as it takes no build: every message an installer can meet is explained.
python3 "$TOP/scripts/manual-messages.py"

build="${1:-$TOP/build}"
build_into "$build"
out="$build/manual"
rm -rf "$out"
mkdir -p "$out/obrazy"

# The pictures, read back from the X server's screen as the user sees them.
xvfb-run --auto-servernum --server-args="-screen 0 1600x1200x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 LANG=C.UTF-8 \
    "$build/docs/trellikon-screenshots" "$out/obrazy" >/dev/null
# The settings sheet's first page, as a reader sees it at a glance.
pdftoppm -r 72 -png -f 1 -l 1 -singlefile "$out/obrazy/karta-ustawien.pdf" "$out/obrazy/karta-ustawien"
rm "$out/obrazy/karta-ustawien.pdf"

# Every picture the manual shows was taken, and every one taken is shown.
shown=$(grep -o 'obrazy/[A-Za-z0-9_-]*\.png' "$TOP/docs/instrukcja.md" | sort -u)
taken=$(cd "$out" && ls obrazy/*.png | sort)
if [ "$shown" != "$taken" ]; then
    echo "manual: pictures shown and pictures taken differ:" >&2
    diff <(echo "$shown") <(echo "$taken") | sed -n 's/^</  shown, not taken:/p; s/^>/  taken, not shown:/p' >&2
    exit 1
fi

# One page, its style inside it, the pictures beside it: nothing is fetched.
version=$(sed -n 's/^project(trellikon VERSION \([0-9.]*\).*/\1/p' "$TOP/CMakeLists.txt")
# Without "smart" typography: the messages are quoted word for word, their
# straight quotes and three dots included.
pandoc --from=markdown-smart --to=html5 --standalone --toc --toc-depth=2 \
    --metadata lang=pl --metadata toc-title="Spis treści" \
    --metadata title="DOMOWY TRELLIKON – instrukcja obsługi" \
    --metadata subtitle="Program konfiguracyjny, wersja $version" \
    --include-in-header="$TOP/docs/instrukcja.css.html" \
    --resource-path="$out" \
    --output="$out/instrukcja.html" "$TOP/docs/instrukcja.md" 2>"$build/manual-pandoc.log" ||
    { cat "$build/manual-pandoc.log" >&2; exit 1; }
# This pandoc's own Polish word list does not load; the page needs none of its
# words (the contents' title is given above), so that warning is left out.
grep -v -e 'Could not load translations for pl' -e 'translations/pl.yaml' \
    -e 'mapping values are not allowed' -e 'has no translation defined' \
    "$build/manual-pandoc.log" >&2 || true
if grep -Eq '(src|href)="(https?:)?//' "$out/instrukcja.html"; then
    echo "manual: instrukcja.html refers to something outside itself" >&2
    exit 1
fi
# Every link inside the page leads to a heading that is there.
dangling=$(comm -23 <(grep -o 'href="#[^"]*"' "$out/instrukcja.html" | sed 's/^href="#//; s/"$//' | sort -u) \
    <(grep -o ' id="[^"]*"' "$out/instrukcja.html" | sed 's/^ id="//; s/"$//' | sort -u))
if [ -n "$dangling" ]; then
    echo "manual: links to no heading:" $dangling >&2
    exit 1
fi
echo "$out/instrukcja.html"
