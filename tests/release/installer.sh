#!/usr/bin/env bash
# Runs the Windows setup as a user would, under Wine in a fresh prefix of its own on a display
# of its own: without LibreOffice it says so; a silent install puts the ZIP's files, a
# Start-menu shortcut and an uninstaller entry in place for the current user; the shortcut
# starts the installed Vellumor.exe, which shows its main window; a silent install over an
# earlier version upgrades it in place; a silent uninstall leaves no program file behind.
#   tests/release/installer.sh SETUP.exe WINDOWS.zip
# Prints one line per check and ends with "installer: N passed, M failed".
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
setup="$(realpath "$1")"
zip_file="$(realpath "$2")"
if [ "${3:-}" != "--inner" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$setup" "$zip_file" --inner
fi

work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
CHECK_LOG="$work/check.log"
. "$here/check_lib.sh"
finish() {
    # Only this check's own prefix: its server and the programs it runs.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

wine_log="$work/wine.log"
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellumor'
office_address='https://www.libreoffice.org/download/'

# A Windows program in the prefix; Wine's own chatter goes to the log.
run_windows() { wine "$@" </dev/null >>"$wine_log" 2>&1; }
# Until every program of the prefix has ended: an uninstaller goes on as a copy of itself after
# the one started has returned.
settle() { timeout 120 wineserver -w </dev/null >/dev/null 2>&1; }
stop_all() { wineserver -k </dev/null >/dev/null 2>&1; settle; }
windows_variable() { wine cmd /c echo "%$1%" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { winepath -u "$1" </dev/null 2>/dev/null | tr -d '\r' | sed 's|/$||'; }
# The registry as the prefix's files hold it once its server has ended (user.reg for the
# current user, system.reg for the machine), read without starting Wine each time.
#   reg_value FILE KEY NAME: the data of a string or number value, empty when there is none
#   reg_value FILE KEY: succeeds when the key is there
reg_value() {
    python3 - "$WINEPREFIX/$1" "$2" "${3:-}" <<'PY'
import sys
path, key, name = sys.argv[1:]
wanted = "[" + key.replace("\\", "\\\\").lower() + "]"
inside = found = False
try:
    lines = open(path, encoding="utf-8", errors="replace").readlines()
except OSError:
    sys.exit(1)
for line in lines:
    line = line.rstrip("\n")
    if line.startswith("["):
        inside = line[: line.find("]") + 1].lower() == wanted
        found = found or inside
    elif inside and name and line.startswith('"%s"=' % name):
        data = line[len(name) + 3 :]
        if data.startswith('"'):
            print(data[1:-1].replace('\\"', '"').replace("\\\\", "\\"))
        elif data.startswith("dword:"):
            print(int(data[6:], 16))
sys.exit(0 if found else 1)
PY
}
has_key() { reg_value "$@" >/dev/null; }

unzip -q "$zip_file" -d "$work/zip"
zip_root="$(find "$work/zip" -mindepth 1 -maxdepth 1 -type d -name 'Vellumor-*-win32' -print -quit)"
version="$(basename "$zip_root" | sed 's/^Vellumor-\(.*\)-win32$/\1/')"

make_prefix() {
    mkdir -p "$WINEPREFIX"
    DISPLAY= wineboot --init </dev/null >>"$wine_log" 2>&1
    settle
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    echo "wineboot made no prefix:"
    tail -5 "$wine_log"
    if grep -q 'Exec format error' "$wine_log"; then
        echo "this system does not run 32-bit programs (Wine's 32-bit loader is refused by the kernel)"
    fi
    return 1
}
check "a fresh Wine prefix is made" make_prefix

local_appdata="$(windows_variable LOCALAPPDATA)"
appdata="$(windows_variable APPDATA)"
install_dir="$(unix_path "$local_appdata\\Programs\\Vellumor")"
shortcut="$(unix_path "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Vellumor.lnk")"
check "the prefix names the user's program and Start-menu folders" \
    test -n "$install_dir" -a -n "$shortcut" -a -d "$(dirname "$shortcut")"
if [ "$failed" -gt 0 ]; then
    # Without a prefix nothing below can run.
    echo "installer: $passed passed, $failed failed"
    exit 1
fi

# Started by hand without LibreOffice, setup says so first and names where to get it. Its
# message boxes are read from Wine's trace of them.
office_named_when_missing() {
    local log="$work/msgbox-missing.log"
    WINEDEBUG=-all,+msgbox wine "$setup" </dev/null >"$log" 2>&1 &
    for _ in $(seq 1 120); do
        grep -q 'MSGBOX_OnInit' "$log" && break
        sleep 0.5
    done
    stop_all
    grep 'MSGBOX_OnInit' "$log" | grep -q 'LibreOffice is not installed' ||
        { echo "no message that LibreOffice is not installed within a minute"; tail -5 "$log"; return 1; }
    grep 'MSGBOX_OnInit' "$log" | grep -qF "$office_address" ||
        { echo "the message does not name $office_address:"; grep 'MSGBOX_OnInit' "$log"; return 1; }
    [ ! -e "$install_dir" ] || { echo "$install_dir exists before anything was installed"; return 1; }
}
check "setup without LibreOffice says so and names $office_address" office_named_when_missing

silent_install() {  # silent_install SETUP VERSION
    # A question left open in silent mode would stop it here.
    if ! timeout 180 wine "$1" /S </dev/null >>"$wine_log" 2>&1; then
        echo "$(basename "$1") /S failed or did not finish within three minutes"
        return 1
    fi
    settle
    local found
    found="$(reg_value user.reg "$uninstall_key" DisplayVersion)"
    [ "$found" = "$2" ] || { echo "HKCU\\$uninstall_key names version '$found', not $2"; return 1; }
}

installed_as_zip() {  # every file of the ZIP, byte for byte
    local missing=() differing=() file
    while IFS= read -r file; do
        if [ ! -f "$install_dir/$file" ]; then
            missing+=("$file")
        elif ! cmp -s "$zip_root/$file" "$install_dir/$file"; then
            differing+=("$file")
        fi
    done < <(cd "$zip_root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    ((${#missing[@]})) && echo "not installed in $install_dir: ${missing[*]}"
    ((${#differing[@]})) && echo "installed, but not as in the ZIP: ${differing[*]}"
    ((${#missing[@]} + ${#differing[@]} == 0))
}

shortcut_in_place() {
    [ -f "$shortcut" ] || { echo "no Start-menu shortcut $shortcut"; return 1; }
    local text
    text="$(strings -a "$shortcut"; strings -a -el "$shortcut")"
    grep -qi 'Programs\\Vellumor\\Vellumor\.exe' <<<"$text" || {
        echo "the shortcut $shortcut does not lead to the installed Vellumor.exe; it holds:"
        strings -a "$shortcut"
        return 1
    }
}

uninstaller_registered() {  # uninstaller_registered VERSION
    local problems=0 name version location quiet program
    name="$(reg_value user.reg "$uninstall_key" DisplayName)"
    version="$(reg_value user.reg "$uninstall_key" DisplayVersion)"
    location="$(reg_value user.reg "$uninstall_key" InstallLocation)"
    quiet="$(reg_value user.reg "$uninstall_key" QuietUninstallString)"
    program="$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$quiet")"
    [ "$name" = Vellumor ] || { echo "HKCU\\$uninstall_key has DisplayName '$name', not Vellumor"; problems=1; }
    [ "$version" = "$1" ] || { echo "HKCU\\$uninstall_key has DisplayVersion '$version', not $1"; problems=1; }
    [ -n "$location" ] && [ "$(unix_path "$location")" = "$install_dir" ] ||
        { echo "HKCU\\$uninstall_key has InstallLocation '$location', not the program's folder"; problems=1; }
    [ -n "$(reg_value user.reg "$uninstall_key" UninstallString)" ] || { echo "HKCU\\$uninstall_key has no UninstallString"; problems=1; }
    [[ "$quiet" == *" /S" ]] || { echo "HKCU\\$uninstall_key has QuietUninstallString '$quiet', without /S"; problems=1; }
    [ -n "$program" ] && [ -f "$(unix_path "$program")" ] ||
        { echo "the uninstaller '$program' that HKCU\\$uninstall_key names is not there"; problems=1; }
    return $problems
}

nothing_for_all_users() {
    local problems=0
    ! has_key system.reg "$uninstall_key" ||
        { echo "an uninstaller entry for all users"; problems=1; }
    for folder in "$WINEPREFIX/drive_c/Program Files"*/Vellumor "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vellumor"*; do
        [ -e "$folder" ] && { echo "$folder exists"; problems=1; }
    done
    return $problems
}

# The shortcut starts the installed program; its window is the main window, not an error box.
main_window_from_shortcut() {
    local log="$work/program.log" window=""
    # Not waited for: a shortcut that leads nowhere leaves start.exe showing its error.
    WINEDEBUG=-all,+msgbox wine start /unix "$shortcut" </dev/null >"$log" 2>&1 &
    for _ in $(seq 1 120); do
        window="$(xdotool search --onlyvisible --name '^Vellumor' 2>/dev/null | head -n 1 || true)"
        [ -n "$window" ] && break
        sleep 0.5
    done
    if [ -z "$window" ]; then
        echo "no Vellumor window within a minute of starting the shortcut; messages shown:"
        grep 'MSGBOX_OnInit' "$log"
        tail -3 "$log"
        stop_all
        return 1
    fi
    sleep 2
    local name pid program WIDTH=0 HEIGHT=0
    name="$(xdotool getwindowname "$window" 2>/dev/null)"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # A Windows program's command line under Wine is its Windows path.
    pid="$(xdotool getwindowpid "$window" 2>/dev/null || true)"
    program="$(tr '\0' ' ' 2>/dev/null <"/proc/${pid:-0}/cmdline" || true)"
    if ! grep -qi 'Programs\\Vellumor\\Vellumor\.exe' <<<"$program"; then
        echo "the window '$name' is not the installed Vellumor.exe's but that of '$program'"
        return 1
    fi
    # The main window is 724 by 534; a message box is smaller.
    if [ "$WIDTH" -lt 700 ] || [ "$HEIGHT" -lt 500 ]; then
        echo "the window '$name' is ${WIDTH}x${HEIGHT}, not the main window; messages shown:"
        grep 'MSGBOX_OnInit' "$log"
        return 1
    fi
    # It stays open for the next check.
}

# Setup cannot replace a running program: asked silently to close it, it ends with code 2 and
# leaves the installation as it was.
running_program_left_alone() {
    pgrep -f 'Programs\\Vellumor\\Vellumor\.exe' >/dev/null || { echo "Vellumor.exe is not running"; return 1; }
    local code=0
    timeout 180 wine "$setup" /S </dev/null >>"$wine_log" 2>&1 || code=$?
    [ "$code" -eq 2 ] || { echo "setup over the running program ended with code $code, not 2"; return 1; }
    installed_as_zip
}

silent_uninstall() {
    local quiet program
    quiet="$(reg_value user.reg "$uninstall_key" QuietUninstallString)"
    program="$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$quiet")"
    [ -n "$program" ] || { echo "HKCU\\$uninstall_key names no uninstaller"; return 1; }
    timeout 180 wine "$program" /S </dev/null >>"$wine_log" 2>&1 || { echo "$program /S failed"; return 1; }
    settle || { echo "the uninstaller did not finish within two minutes"; return 1; }
}

nothing_left() {  # nothing_left [USER_FILE...]: what may stay in the program's folder
    local problems=0 leftovers
    leftovers="$( ([ -d "$install_dir" ] && cd "$install_dir" && find . -type f | sed 's|^\./||') | grep -vxF -f <(printf '%s\n' "$@" '') || true)"
    [ -z "$leftovers" ] || { echo "left in $install_dir:" $leftovers; problems=1; }
    [ $# -gt 0 ] || [ ! -e "$install_dir" ] || { echo "the folder $install_dir is still there"; problems=1; }
    [ ! -e "$shortcut" ] || { echo "the Start-menu shortcut $shortcut is still there"; problems=1; }
    ! has_key user.reg "$uninstall_key" || { echo "the uninstaller entry HKCU\\$uninstall_key is still there"; problems=1; }
    return $problems
}

# A first install.
check "silent install (/S) without LibreOffice finishes" silent_install "$setup" "$version"
check "installed files are the ZIP's" installed_as_zip
check "the Start-menu shortcut leads to the installed Vellumor.exe" shortcut_in_place
check "an uninstaller is registered for the current user" uninstaller_registered "$version"
check "nothing is installed for all users" nothing_for_all_users
check "the installed Vellumor.exe shows its main window" main_window_from_shortcut
check "setup over the running Vellumor.exe ends with code 2 and changes nothing" running_program_left_alone
stop_all
check "silent uninstall (/S) finishes" silent_uninstall
check "uninstall leaves no program file, shortcut or entry behind" nothing_left

# An upgrade over an earlier version: one that had a file this one has not and an older readme.
earlier="$work/earlier"
cp -r "$zip_root" "$earlier"
echo "Vellumor 1.0" >"$earlier/README.txt"
echo "only the earlier version had this" >"$earlier/notes-1.0.txt"
check "an earlier version's setup is made" \
    "$root/packaging/windows/make-installer" "$earlier" 1.0 "$work/Vellumor-1.0-setup.exe"
check "the earlier version installs silently" silent_install "$work/Vellumor-1.0-setup.exe" 1.0
mkdir -p "$install_dir" && echo "the user's own" >"$install_dir/my notes.txt"
check "silent install over the earlier version finishes" silent_install "$setup" "$version"
check "upgrade: the installed files are this version's" installed_as_zip
check "upgrade: the earlier version's own file is gone" \
    bash -c "[ ! -e '$install_dir/notes-1.0.txt' ] || { echo 'notes-1.0.txt is still in $install_dir'; exit 1; }"
check "upgrade: a file of the user's in the folder stays" test -f "$install_dir/my notes.txt"
check "upgrade: the shortcut leads to the installed Vellumor.exe" shortcut_in_place
check "upgrade: one uninstaller entry, of this version" uninstaller_registered "$version"
check "silent uninstall after the upgrade finishes" silent_uninstall
check "uninstall after the upgrade leaves only the user's file" nothing_left "my notes.txt"

# With an office registered (its program folder holds python.exe), setup goes straight to its
# pages without the message.
no_message_with_office() {
    local office="$WINEPREFIX/drive_c/LibreOffice/program" log="$work/msgbox-office.log" window=""
    mkdir -p "$office" && printf 'MZ' >"$office/python.exe"
    run_windows reg add 'HKCU\Software\LibreOffice\UNO\InstallPath' /ve /d 'C:\LibreOffice\program' /f ||
        { echo "could not register the stand-in office"; return 1; }
    WINEDEBUG=-all,+msgbox wine "$setup" </dev/null >"$log" 2>&1 &
    for _ in $(seq 1 120); do
        window="$(xdotool search --onlyvisible --name 'Setup$' 2>/dev/null | head -n 1 || true)"
        [ -n "$window" ] && break
        sleep 0.5
    done
    sleep 1
    stop_all
    [ -n "$window" ] || { echo "setup showed no window within a minute"; return 1; }
    ! grep -q 'MSGBOX_OnInit' "$log" || { echo "setup showed a message although the office is there:"; grep 'MSGBOX_OnInit' "$log"; return 1; }
}
check "setup with LibreOffice registered shows no message" no_message_with_office

echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
