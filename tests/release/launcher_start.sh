#!/usr/bin/env bash
# A first start of the packaged launcher as on a user's machine: a fresh home (so a fresh Wine
# prefix at the launcher's default place) on a display of its own. Checks that the prefix is
# made without a question or a console window, with Wine's theme off, and that the main window
# shows with the list's tinted header, as the tests see it.
#   tests/release/launcher_start.sh UNPACKED_PACKAGE_ROOT
set -euo pipefail
unpacked="$(realpath "$1")"
if [ "${2:-}" != "--inner" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$unpacked" --inner
fi

home="$(mktemp -d)"
launcher_pid=""
finish() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
    # Only this check's own prefix: its server and the programs it runs.
    WINEPREFIX="$home/.local/share/vellumor/wine" wineserver -k 2>/dev/null || true
    rm -rf "$home"
}
trap finish EXIT

env -u WINEPREFIX -u XDG_DATA_HOME HOME="$home" \
    VELLUMOR_PROGRAM_DIR="$unpacked/usr/lib/vellumor" \
    "$unpacked/usr/bin/vellumor" </dev/null >"$home/launcher.log" 2>&1 &
launcher_pid=$!

window=""
for _ in $(seq 1 240); do
    window="$(xdotool search --onlyvisible --name '^Vellumor' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    if ! kill -0 "$launcher_pid" 2>/dev/null; then
        echo "the launcher ended before the window appeared:"
        cat "$home/launcher.log"
        exit 1
    fi
    sleep 0.5
done
[ -n "$window" ] || { echo "no Vellumor window within two minutes"; exit 1; }
echo "main window: $window"

prefix="$home/.local/share/vellumor/wine"
[ -f "$prefix/.vellumor-prefix-v1" ] || { echo "the prefix was not completed"; exit 1; }
grep -q '"ThemeActive"="0"' "$prefix/user.reg" || { echo "Wine's theme is still on"; exit 1; }

# Nothing else came up: no console, no question about Mono or Gecko, no crash dialog.
for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null || true); do
    name="$(xdotool getwindowname "$w" 2>/dev/null || true)"
    if grep -qiE 'console|cmd|wine|mono|gecko|program error' <<<"$name"; then
        echo "an unexpected window: $name"
        exit 1
    fi
done

# Time to paint; then the header's tint among the window's pixels (it replaces the classic
# button face colour, so it shows only with the theme off).
sleep 3
shot="$home/screen.png"
import -window root "$shot"
eval "$(xdotool getwindowgeometry --shell "$window")"
colours="$(convert "$shot" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -unique-colors txt:-)"
if ! grep -qi '#DCE6F4' <<<"$colours"; then
    echo "the window (${WIDTH}x${HEIGHT}+${X}+${Y}) shows no header tint #DCE6F4"
    exit 1
fi
echo "header tint found"
