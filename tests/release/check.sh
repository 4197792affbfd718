#!/usr/bin/env bash
# Inspects the release artefacts in dist/; installs, starts and uninstalls the Windows setup under
# Wine in a fresh prefix (tests/release/installer.sh); and, as root, installs the Debian package,
# converts a real document with the installed vellumor-cli, and removes the package again.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
CHECK_LOG=/tmp/vellumor-release-check.log
. tests/release/check_lib.sh
skipped=0

skip() {  # skip NAME REASON
    skipped=$((skipped + 1)); echo "skip  $1: $2"
}
# The packaged program is the 32-bit one: where the kernel runs no 32-bit programs, no Wine here
# can start it (the Windows tests then run a 64-bit build of the same sources instead).
. scripts/wine-env
runs_32bit=1
[ "$VELLUMOR_WINE_BITS" = 32 ] || runs_32bit=0
unset WINEPREFIX WINEARCH WINELOADER

zip_file="$(ls dist/Vellumor-*-win32.zip 2>/dev/null | head -1)"
deb_file="$(ls dist/vellumor_*_amd64.deb 2>/dev/null | head -1)"
setup_file="$(ls dist/Vellumor-*-setup.exe 2>/dev/null | head -1)"
check "windows zip exists" test -f "$zip_file"
check "windows setup exists" test -f "$setup_file"
check "debian package exists" test -f "$deb_file"

zip_has() { unzip -Z1 "$zip_file" | grep -E "^Vellumor-[0-9.]+-win32/$1\$" >/dev/null; }
for f in Vellumor.exe vellumor-cli.exe tessolin.chm README.txt licences/LICENSE.txt; do
    check "zip holds $f" zip_has "$f"
done
# Help > Home opens the page beside the program.
for f in index.html screenshot.png; do check "zip holds the home page's $f" zip_has "$f"; done
check "zip holds the engine script" zip_has vellumor_engine.py
check "zip's engine script is the one the conformance suite ran" bash -c \
    "unzip -p '$zip_file' '*/vellumor_engine.py' | cmp -s - engine/script/vellumor_engine.py"
# The script worker does not start without its office settings beside it.
check "zip holds the engine's office settings beside the script" zip_has office_settings.ini
check "zip's office settings are the ones the conformance suite ran" bash -c \
    "unzip -p '$zip_file' '*/office_settings.ini' | cmp -s - engine/script/office_settings.ini"
check "zip's README tells a Windows user to install LibreOffice" bash -c \
    "unzip -p '$zip_file' '*/README.txt' | grep 'Install LibreOffice' >/dev/null"
check "zip's Vellumor.exe is a 32-bit Windows program" bash -c \
    "unzip -p '$zip_file' '*/Vellumor.exe' > /tmp/vellumor-check.exe && file /tmp/vellumor-check.exe | grep 'PE32 executable (GUI) Intel 80386' >/dev/null"

check "setup is a 32-bit Windows program" bash -c \
    "file '$setup_file' | grep 'PE32 executable (GUI) Intel 80386' >/dev/null"
# Its manifest asks Windows for no elevation: a user without administrator rights installs it.
check "setup asks for no administrator rights" grep -aq 'level="asInvoker"' "$setup_file"

# Install, start, upgrade and uninstall under Wine; its checks count in this tally.
if [ "$runs_32bit" != 1 ]; then
    skip "the setup installs, starts, upgrades and uninstalls under Wine" \
        "this kernel runs no 32-bit programs"
elif [ -f "$setup_file" ] && [ -f "$zip_file" ]; then
    installer_out="$(mktemp)"
    tests/release/installer.sh "$setup_file" "$zip_file" 2>&1 | tee "$installer_out" | grep -v '^installer: '
    tally="$(sed -n 's/^installer: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$installer_out" | tail -1)"
    if [ -n "$tally" ]; then
        passed=$((passed + ${tally% *})) failed=$((failed + ${tally#* }))
    else
        failed=$((failed + 1)); echo "FAIL  the setup's checks under Wine ran to their end"
    fi
    rm -f "$installer_out"
fi

deb_has() { dpkg-deb -c "$deb_file" | awk '{print $6}' | grep -x "./$1" >/dev/null; }
for f in usr/bin/vellumor-cli usr/bin/vellumor usr/lib/vellumor/vellumor-engine \
    usr/lib/vellumor/office_settings.ini usr/lib/vellumor/vellumor_engine.py usr/lib/vellumor/Vellumor.exe \
    usr/lib/vellumor/tessolin.chm usr/share/applications/vellumor.desktop usr/share/doc/vellumor/copyright \
    usr/share/doc/vellumor/changelog.gz usr/share/man/man1/vellumor.1.gz \
    usr/share/man/man1/vellumor-cli.1.gz usr/share/lintian/overrides/vellumor; do
    check "package holds /$f" deb_has "$f"
done
check "package's script worker is the one the conformance suite ran" bash -c \
    "dpkg-deb --fsys-tarfile '$deb_file' | tar -xO ./usr/lib/vellumor/vellumor_engine.py | cmp -s - engine/script/vellumor_engine.py"
# The worker is no command: the CLI finds it in /usr/lib/vellumor, the window beside its program.
check "package keeps the engine worker off the command search path" bash -c \
    "! dpkg-deb -c '$deb_file' | awk '{print \$6}' | grep -x './usr/bin/vellumor-engine' >/dev/null"
# Debian's own checker: no error, and no warning the package does not override with its reason.
check "package passes lintian" lintian --fail-on error,warning "$deb_file"
for f in index.html screenshot.png; do
    check "package holds the home page's $f beside the program" deb_has "usr/lib/vellumor/$f"
done
depends="$(dpkg-deb -f "$deb_file" Depends)"
# python3-uno: the script worker's bridge to the office.
for d in libreoffice-writer libreoffice-core python3-uno wine wine32; do
    check "package depends on $d" grep -qE "(^|[ ,|])$d( |,|\$|-nogui)" <<<"$depends"
done
# An installed Vellumor lays documents out with the fonts the tests measure with.
for d in $(sed -n '/^font_files=(/,/^)/p' scripts/setup | grep -o '"fonts-[a-z0-9-]*' | tr -d '"' | sort -u); do
    check "package depends on the engine's fonts ($d)" grep -qE "(^|[ ,|])$d( |,|\$)" <<<"$depends"
done

unpacked="$(mktemp -d)"
dpkg-deb -x "$deb_file" "$unpacked"
check "launcher finds the program" bash -c \
    "VELLUMOR_PROGRAM_DIR='$unpacked/usr/lib/vellumor' '$unpacked/usr/bin/vellumor' --print-program | grep 'Vellumor.exe\$' >/dev/null"
check "launcher names a missing program" bash -c \
    "VELLUMOR_PROGRAM_DIR=/nonexistent '$unpacked/usr/bin/vellumor' 2>&1 | grep 'is missing' >/dev/null"
check "desktop entry starts the launcher" grep -qx "Exec=vellumor" "$unpacked/usr/share/applications/vellumor.desktop"
for program in usr/bin/vellumor-cli usr/lib/vellumor/vellumor-engine; do
    check "/$program is stripped and keeps its build id" bash -c \
        "file -L '$unpacked/$program' | grep -q ', stripped' && readelf -n '$unpacked/$program' | grep -q 'Build ID'"
done
# Both manual pages are written for these programs: every option vellumor-cli --help names is in its page.
check "manual page of vellumor-cli names every option of its help" bash -c \
    "'$unpacked/usr/bin/vellumor-cli' --help | grep -o -- '--[a-z0-9-]*' | sort -u | while read -r option; do
         zcat '$unpacked/usr/share/man/man1/vellumor-cli.1.gz' | sed 's/\\\\-/-/g' | grep -q -- \"\$option\" || { echo \"missing \$option\"; exit 1; }
     done"
check "launcher says its version and the office's" bash -c \
    "VELLUMOR_PROGRAM_DIR='$unpacked/usr/lib/vellumor' '$unpacked/usr/bin/vellumor' --version >'$unpacked/version.txt' &&
     grep -qx 'vellumor $(dpkg-deb -f "$deb_file" Version)' '$unpacked/version.txt' &&
     grep -q '^office: LibreOffice [0-9]' '$unpacked/version.txt' && grep -q '^wine: ' '$unpacked/version.txt'"
if [ "$runs_32bit" = 1 ]; then
    check "launcher's first start shows the window as tested" tests/release/launcher_start.sh "$unpacked"
else
    skip "launcher's first start shows the window as tested" "this kernel runs no 32-bit programs"
fi
rm -rf "$unpacked"

if [ "$(id -u)" -eq 0 ] && [ "${VELLUMOR_SKIP_INSTALL_CHECK:-}" = "" ]; then
    work="$(mktemp -d)"
    sample="$root/../shared/corpus/poi_Bug54849.docx"
    # apt brings the dependencies this machine lacks (the engine's fonts, which setup keeps in
    # a folder of the engine's own); they are removed again after the check.
    brought=()
    for dependency in $(dpkg-deb -f "$deb_file" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g'); do
        dpkg-query -W -f='${Status}' "$dependency" 2>/dev/null | grep -q "ok installed" ||
            brought+=("$dependency")
    done
    check "package installs" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "$(realpath "$deb_file")"
    if [ -f "$sample" ]; then
        cp "$sample" "$work/sample.docx"
        check "installed vellumor-cli converts a document" bash -c \
            "/usr/bin/vellumor-cli -o '$work/out' '$work/sample.docx' && pdfinfo '$work/out/sample.pdf' | grep '^Pages:' >/dev/null"
    else
        skip "installed vellumor-cli converts a document" \
            "needs the real documents of ../shared/corpus, which are not at $(dirname "$sample")"
    fi
    # Where the C++ worker cannot start the office (here: its profile's settings file cannot be
    # written), the installed script worker converts, and one line says so.
    if [ -f "$sample" ]; then
        mkdir -p "$work/cache/vellumor/engine-profile-0/user/registrymodifications.xcu"
        check "installed vellumor-cli gives way to its script worker when the C++ worker cannot start the office" bash -c \
            "XDG_CACHE_HOME='$work/cache' /usr/bin/vellumor-cli -o '$work/fallback' '$work/sample.docx' 2>'$work/said.txt' >/dev/null &&
             grep -q '; converting with the script worker /usr/lib/vellumor/vellumor_engine.py instead\$' '$work/said.txt' &&
             pdfinfo '$work/fallback/sample.pdf' | grep '^Pages:' >/dev/null"
    fi
    # Installed, the CLI finds its worker in /usr/lib/vellumor although no vellumor-engine is on PATH.
    check "installed vellumor-cli names its version and the office" bash -c \
        "! command -v vellumor-engine >/dev/null && /usr/bin/vellumor-cli --version | grep -q '^office: LibreOffice .* (through /usr/lib/vellumor/vellumor-engine)'"
    check "package removes cleanly" dpkg -r vellumor
    for dependency in "${brought[@]}"; do
        if dpkg-query -W -f='${Status}' "$dependency" 2>/dev/null | grep -q "ok installed"; then
            DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$dependency" >/dev/null 2>&1 || true
        fi
    done
    rm -rf "$work"
fi

echo "release: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
