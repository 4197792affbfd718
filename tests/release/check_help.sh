#!/usr/bin/env bash
# Reads the built help file back: its table of contents names every page, and every page it names
# is inside and is the page it should be.
set -euo pipefail
chm="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
listing="$(chmls list "$chm" 2>/dev/null)"
chmls extract "$chm" /toc.hhc "$work/toc.hhc" >/dev/null 2>&1
pages="$(grep -o 'name="Local" value="[^"]*"' "$work/toc.hhc" | sed 's/.*value="\(.*\)"/\1/')"
[ "$(wc -l <<<"$pages")" -ge 6 ] || { echo "table of contents lists too few pages"; exit 1; }
for page in $pages; do
    grep -q " /$page\$" <<<"$listing" || { echo "$page is in the contents but not in the file"; exit 1; }
    chmls extract "$chm" "/$page" "$work/page.html" >/dev/null 2>&1
    grep -q "<title>" "$work/page.html" || { echo "$page has no title"; exit 1; }
done
chmls extract "$chm" /index.html "$work/index.html" >/dev/null 2>&1
grep -q "<title>Vellumor Help</title>" "$work/index.html"
chmls extract "$chm" /messages.html "$work/messages.html" >/dev/null 2>&1
grep -q "Failed to open the word file." "$work/messages.html"
echo "help file: $(wc -l <<<"$pages") pages readable"
