#!/usr/bin/env bash
# Tests the Windows build (made by scripts/windows.sh) under Wine, in a Wine
# prefix of its own in build-windows/wine:
#   1. the Windows test programs (ctest in build-windows/build);
#   2. trellikon-cli.exe reading and programming the simulated device through
#      Wine's COM1, which leads to trellikon-sim's pseudo-terminal, on a clean
#      line and on one that damages frames, byte for byte; and synchronising
#      with a company register on a PostgreSQL server of the check's own;
#   3. the window program: the end-to-end window test through COM1, the
#      settings sheet in a prefix without any font but Wine's own (the same
#      text as the Linux program's, in the DejaVu Sans it ships; refused
#      without it), and the installed program started on Xvfb, with
#      screenshots in build-windows/shots;
#   4. the installer: a silent install for the current user, the installed
#      programs with their manifest and signatures, a template opened by its
#      file type, an upgrade and an uninstall refused while the program runs,
#      an install over the installed version, a silent uninstall that removes
#      its own files and none of the user's, a foreign folder refused.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TOP/scripts/windows-lib.sh"
install_missing "${WINDOWS_PACKAGES[@]}"
[ -f "$INSTALLER" ] || { echo "no Windows build: run scripts/windows.sh first" >&2; exit 1; }
# The folder of libpq's DLLs (built and cached by scripts/windows.sh).
[ -n "${TRELLIKON_LIBPQ_PREFIX:-}" ] || build_libpq
build_into "$TOP/build" >/dev/null # the simulator, trellikon-sim

export WINEPREFIX="$WIN_BUILD/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
SHOTS="$WIN_BUILD/shots"
COM1_LINK="$WIN_BUILD/com1"
WORK="$(mktemp -d)"
sim_pid=""
xvfb_pid=""
# A second prefix that knows no font but Wine's own, as a PC without DejaVu
# Sans: the host's fonts are kept out (an empty fontconfig configuration) and
# no face is mapped.
FONTLESS_PREFIX="$WIN_BUILD/wine-fontless"
fontless() { env WINEPREFIX="$FONTLESS_PREFIX" FONTCONFIG_FILE="$WORK/no-fonts.conf" "$@"; }
PG_DIR=""
cleanup() {
    [ -n "$PG_DIR" ] && { "$TOP/tests/pg_test_server.sh" stop "$PG_DIR/pg"; rm -rf "$PG_DIR"; }
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    fontless wineserver -k 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
started=$SECONDS
failures=0
check() { # check "what" command...
    local what="$1"; shift
    if "$@"; then echo "PASS  $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}

# A prefix of our own: COM1 leads to the simulator's terminal (through a link
# that every run of the simulator renews), and a font with Polish letters
# stands in for the Windows fonts Wine does not have. Wine's server rewrites
# its port links when it starts, so the port goes into the registry and the
# server is let stop before a program runs.
make_prefix() {
    if [ ! -f "$WINEPREFIX/.trellikon-ready" ]; then
        log "making the Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        local fonts="$WINEPREFIX/drive_c/windows/Fonts" face
        mkdir -p "$fonts"
        cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf "$fonts/"
        for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Arial" "MS Sans Serif"; do
            wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
                /v "$face" /d "DejaVu Sans" /f >/dev/null 2>&1
        done
        touch "$WINEPREFIX/.trellikon-ready"
    fi
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$COM1_LINK" /f >/dev/null 2>&1
    # The same terminal as a port above COM8, where USB adapters usually land.
    wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$COM1_LINK" /f >/dev/null 2>&1
    wineserver -w
    # One server for the whole run, its diagnostics kept out of the report.
    wineserver -f -p >"$WIN_BUILD/wineserver.log" 2>&1 &
    sleep 1
}

make_fontless_prefix() {
    printf '<?xml version="1.0"?>\n<fontconfig></fontconfig>\n' >"$WORK/no-fonts.conf"
    if [ ! -f "$FONTLESS_PREFIX/.trellikon-ready" ]; then
        log "making the Wine prefix without fonts $FONTLESS_PREFIX"
        rm -rf "$FONTLESS_PREFIX"
        fontless wineboot -i >/dev/null 2>&1
        fontless wineserver -w
        touch "$FONTLESS_PREFIX/.trellikon-ready"
    fi
}

# Starts trellikon-sim with its memory in $1 and further options, its
# terminal behind $COM1_LINK.
start_sim() {
    local memory="$1"; shift
    stop_sim
    rm -f "$COM1_LINK"
    "$TOP/build/tools/trellikon-sim" --memory "$memory" --link "$COM1_LINK" "$@" \
        </dev/null >"$WORK/sim.out" 2>"$WORK/sim.err" &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$COM1_LINK" ] && return 0; sleep 0.1; done
    echo "the simulator did not start: $(cat "$WORK/sim.err")" >&2
    return 1
}
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}

cli() { wine "$BUNDLE/trellikon-cli.exe" "$@"; }

# A read of the simulated device gives its memory; a write --verify leaves the
# file in it. $@: the simulator's fault options.
transfer_round() {
    local tag="$1"; shift
    "$TOP/build/tools/trellikon-cli" demo "$WORK/device-$tag.sbn" >/dev/null
    start_sim "$WORK/device-$tag.sbn" "$@"
    check "read COM1 under Wine ($tag)" cli read COM1 "$(wine_path "$WORK/read-$tag.sbn")"
    stop_sim
    check "the file read is the device's memory ($tag)" cmp "$WORK/device-$tag.sbn" "$WORK/read-$tag.sbn"

    head -c 4096 /dev/urandom >"$WORK/random-$tag.sbn"
    start_sim "$WORK/device-$tag.sbn" "$@"
    check "write --verify COM1 under Wine ($tag)" \
        cli write --verify COM1 "$(wine_path "$WORK/random-$tag.sbn")"
    stop_sim
    check "the device holds the file written ($tag)" cmp "$WORK/random-$tag.sbn" "$WORK/device-$tag.sbn"
}

# The installations register under Wine: a read recorded for an installation,
# found by the list, and its version written back (restore) once the device
# has changed: stopped with code 5 first, then written with --force.
register_round() {
    local reg
    reg="$(wine_path "$WORK/rejestr.sqlite")"
    "$TOP/build/tools/trellikon-cli" demo "$WORK/device-reg.sbn" >/dev/null
    cp "$WORK/device-reg.sbn" "$WORK/visit-reg.sbn"
    start_sim "$WORK/device-reg.sbn"
    check "read COM1 recorded in the register under Wine" \
        cli read --register "$reg" --installation "Dom testowy" COM1 "$(wine_path "$WORK/read-reg.sbn")"
    stop_sim
    listed() { cli installations --register "$reg" 2>/dev/null | tr -d '\r' | grep -q '^Dom testowy  1 wersja'; }
    check "installations lists it under Wine" listed
    local id
    id="$(cli history --register "$reg" "Dom testowy" 2>/dev/null | tr -d '\r' | awk 'NR == 1 {print $1}')"
    head -c 4096 /dev/urandom >"$WORK/device-reg.sbn"
    stopped() {
        start_sim "$WORK/device-reg.sbn"
        local rc=0
        cli restore --register "$reg" "$id" COM1 >/dev/null 2>&1 || rc=$?
        stop_sim
        [ "$rc" -eq 5 ] && ! cmp -s "$WORK/visit-reg.sbn" "$WORK/device-reg.sbn"
    }
    check "restore under Wine stops at a device changed since (code 5)" stopped
    start_sim "$WORK/device-reg.sbn"
    check "restore --force under Wine writes the version back" \
        cli restore --register "$reg" --force "$id" COM1
    stop_sim
    check "the device holds the restored version" cmp "$WORK/visit-reg.sbn" "$WORK/device-reg.sbn"
}

# The company register under Wine: trellikon-cli.exe joins a PostgreSQL server
# of the check's own over TLS with full verification, pushes the register of
# the round above, takes in a rename the Linux program made, and is refused by
# a server whose certificate names another host or comes from another CA.
company_round() {
    local linux="$TOP/build/tools/trellikon-cli" port su reg linux_reg rc
    PG_DIR="$(mktemp -d)"
    chmod 755 "$PG_DIR" # the server's own user reads its folder
    port="$("$TOP/tests/pg_test_server.sh" start "$PG_DIR/pg" | sed -n 's/^PGTEST_PORT=//p')"
    local pass="$PG_DIR/pg/pgpass" ca="$PG_DIR/pg/ca.crt"
    su="postgresql://postgres@localhost:$port/postgres?sslrootcert=$ca"
    export XDG_CONFIG_HOME="$WORK/linux-config"
    PGPASSFILE="$pass" "$linux" server init "$su" >/dev/null
    PGPASSFILE="$pass" TRELLIKON_NEW_PASSWORD=technik-wine "$linux" server add-user "$su" jan technik >/dev/null
    echo "localhost:$port:*:jan:technik-wine" >>"$pass"
    reg="$(wine_path "$WORK/rejestr.sqlite")"
    linux_reg="$WORK/linux.sqlite"
    wcli() { PGPASSFILE="$(wine_path "$pass")" cli "$@"; }
    lcli() { PGPASSFILE="$pass" "$linux" "$@"; }
    local uri="postgresql://jan@localhost:$port/postgres?sslrootcert=$(wine_path "$ca" | tr '\\' /)"
    check "trellikon-cli.exe joins the company register over TLS" \
        wcli register connect "$uri" --register "$reg"
    check "trellikon-cli.exe synchronises (verify-full)" wcli register sync --register "$reg"
    lcli register connect "postgresql://jan@localhost:$port/postgres?sslrootcert=$ca" \
        --register "$linux_reg" >/dev/null
    lcli register sync --register "$linux_reg" >/dev/null
    lcli rename "Dom testowy" "Dom testowy, klatka B" --register "$linux_reg"
    lcli register sync --register "$linux_reg" >/dev/null
    renamed() {
        wcli register sync --register "$reg" >/dev/null 2>&1 &&
            cli installations --register "$reg" 2>/dev/null | tr -d '\r' |
            grep -q '^Dom testowy, klatka B  [0-9]'
    }
    check "trellikon-cli.exe takes in the Linux program's rename" renamed
    refused() { # the server's certificate; sync must end with code 2
        "$TOP/tests/pg_test_server.sh" cert "$PG_DIR/pg" "$1"
        rc=0
        wcli register sync --register "$reg" >/dev/null 2>&1 || rc=$?
        [ "$rc" -eq 2 ]
    }
    check "trellikon-cli.exe refuses a certificate for another host" refused wronghost
    check "trellikon-cli.exe refuses a certificate from another CA" refused wrongca
    "$TOP/tests/pg_test_server.sh" cert "$PG_DIR/pg" good
    check "trellikon-cli.exe synchronises again with the right certificate" \
        wcli register sync --register "$reg"
    "$TOP/tests/pg_test_server.sh" stop "$PG_DIR/pg"
    rm -rf "$PG_DIR"
    PG_DIR=""
    unset XDG_CONFIG_HOME
}

start_display() {
    export DISPLAY=:57
    Xvfb "$DISPLAY" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
}

installed_dir() {
    local user
    user="$(wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')"
    echo "$WINEPREFIX/drive_c/users/$user/AppData/Local/Programs/Trellikon"
}

make_prefix
mkdir -p "$SHOTS"

log "1. the Windows test programs"
# The device tests need the simulator on COM1: they run in step 3.
check "Windows test programs under Wine" ctest --test-dir "$WIN_PROJECT" --output-on-failure -LE device

log "2. trellikon-cli.exe through COM1"
# A device name is never written to: the save is refused and nothing is made.
refuses_device_name() {
    ! cli demo "$(wine_path "$WORK/COM3.sbn")" >/dev/null 2>&1 && [ ! -e "$WORK/COM3.sbn" ] &&
        [ -z "$(find "$WORK" -name 'COM3.sbn*')" ]
}
check "trellikon-cli.exe refuses to save to COM3.sbn" refuses_device_name
transfer_round clean --baud 19200
transfer_round damaged --baud 19200 --seed 7 --flip 0.15 --drop 0.1 --split 0.3 --dup-handshake 0.3
register_round
company_round

log "3. the window program through COM1"
start_display
"$TOP/build/tools/trellikon-cli" demo "$WORK/window.sbn" >/dev/null
start_sim "$WORK/window.sbn" --baud 19200
check "the Win32 port on COM1 and COM12" env TRELLIKON_TEST_PORT=COM1 TRELLIKON_TEST_HIGH_PORT=COM12 \
    WINEPATH="$(windows_dll_path)" \
    wine "$WIN_PROJECT/tests/test_win_serial_device.exe" -o "$(wine_path "$SHOTS/port-test.txt"),txt"
sed 's/^/    /' "$SHOTS/port-test.txt"
stop_sim
# The window test ticks the timers itself, faster than their 1000/300 ms, so
# the device answers at once; the line's pace was checked above.
start_sim "$WORK/window.sbn" --baud 0
check "read and program through the windows on COM1" \
    env TRELLIKON_TEST_PORT=COM1 TRELLIKON_TEST_MEMORY="$(wine_path "$WORK/window.sbn")" \
    TRELLIKON_SHOT_DIR="$(wine_path "$SHOTS")" WINEPATH="$(windows_dll_path)" \
    QT_PLUGIN_PATH="$(wine_path "$QT_PREFIX/plugins")" \
    wine "$WIN_PROJECT/tests/test_windows_end_to_end.exe" -o "$(wine_path "$SHOTS/window-test.txt"),txt"
sed 's/^/    /' "$SHOTS/window-test.txt" | grep -v EnableNonClientDpiScaling || true
stop_sim

# The settings sheet of a full template (168 callers), made where Windows has
# no DejaVu Sans: the Windows program writes the text the Linux one does, word
# for word, the time it was made aside, in the DejaVu Sans it ships (embedded).
sheet_text() { pdftotext "$1" - | grep -v '^Data i godzina sporządzenia:' | tr -s '[:space:]' ' '; }
same_sheet_text() {
    "$TOP/build/tools/trellikon-cli" demo "$WORK/full.sbn" >/dev/null &&
        "$TOP/build/tools/trellikon-cli" subscribers add "$WORK/full.sbn" \
            $(seq -f '4850000%04g' 1 165) >/dev/null &&
        "$TOP/build/tools/trellikon-cli" sheet "$WORK/full.sbn" "$WORK/sheet-linux.pdf" 2>/dev/null &&
        fontless wine "$BUNDLE/trellikon-cli.exe" sheet "$(wine_path "$WORK/full.sbn")" \
            "$(wine_path "$SHOTS/sheet-windows.pdf")" 2>/dev/null ||
        return 1
    pdffonts "$SHOTS/sheet-windows.pdf" | grep -q 'DejaVuSans.* yes ' ||
        { echo "    DejaVu Sans is not embedded:"; pdffonts "$SHOTS/sheet-windows.pdf" | sed 's/^/    /'; return 1; }
    sheet_text "$WORK/sheet-linux.pdf" >"$WORK/sheet-linux.txt"
    sheet_text "$SHOTS/sheet-windows.pdf" >"$WORK/sheet-windows.txt"
    [ "$(grep -o '4850000[0-9]*' "$WORK/sheet-windows.txt" | sort -u | wc -l)" -eq 165 ] &&
        cmp -s "$WORK/sheet-linux.txt" "$WORK/sheet-windows.txt" && return 0
    diff <(tr ' ' '\n' <"$WORK/sheet-linux.txt") <(tr ' ' '\n' <"$WORK/sheet-windows.txt") | head -20 | sed 's/^/    /'
    return 1
}
make_fontless_prefix
check "trellikon-cli.exe writes the settings sheet the Linux program does, in DejaVu Sans" same_sheet_text
# Without its fonts folder the program has no face with the Polish letters
# there: the sheet is refused with the reason, and no file is made.
refuses_sheet_without_font() {
    local copy="$WORK/no-font-program" out
    rm -rf "$copy"
    cp -r "$BUNDLE" "$copy" && rm -rf "$copy/fonts"
    out="$(fontless wine "$copy/trellikon-cli.exe" sheet "$(wine_path "$WORK/full.sbn")" \
        "$(wine_path "$WORK/no-font.pdf")" 2>&1)" && return 1
    rm -rf "$copy"
    echo "$out" | grep -q 'brak czcionki z polskimi literami' && [ ! -e "$WORK/no-font.pdf" ]
}
check "without its font the sheet is refused, not written without text" refuses_sheet_without_font

log "4. the installer"
check "silent install for the current user" wine "$INSTALLER" /S
dir="$(installed_dir)"
check "the installed folder holds the programs" test -f "$dir/trellikon.exe" -a -f "$dir/trellikon-cli.exe" \
    -a -f "$dir/platforms/qwindows.dll" -a -f "$dir/translations/qtbase_pl.qm" -a -f "$dir/odinstaluj.exe" \
    -a -f "$dir/fonts/DejaVuSans.ttf" -a -f "$dir/trellikon-files.txt"
# Every program and DLL installed, the uninstaller and the installer carry an
# Authenticode signature: checked against the throwaway certificate of this
# check, else against the system's trusted ones (a release's certificate).
signature_ca=()
if [ -z "${TRELLIKON_SIGN_CERT:-}" ] || [ "$TRELLIKON_SIGN_CERT" = "$WIN_BUILD/test-certificate/cert.p12" ]; then
    [ -f "$WIN_BUILD/test-certificate/cert.pem" ] && signature_ca=(-CAfile "$WIN_BUILD/test-certificate/cert.pem")
fi
all_signed() {
    local f unsigned=0
    while IFS= read -r f; do
        osslsigncode verify "${signature_ca[@]}" -in "$f" >/dev/null 2>&1 ||
            { echo "    no valid signature: ${f#"$dir"/}"; unsigned=1; }
    done < <(find "$dir" \( -iname '*.exe' -o -iname '*.dll' \); echo "$INSTALLER")
    return "$unsigned"
}
check "every installed .exe and .dll, the uninstaller and the installer are signed" all_signed
check "a Start-menu entry" test -n "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -name 'Trellikon.lnk')"
check "the manual with its Start-menu entry" test -s "$dir/instrukcja.html" -a -d "$dir/obrazy" \
    -a -n "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -name 'Instrukcja obsługi.lnk')"
"$TOP/build/tools/trellikon-cli" demo "$WORK/installed.sbn" >/dev/null
start_sim "$WORK/installed.sbn" --baud 0
check "the installed trellikon-cli.exe reads COM1" \
    wine "$dir/trellikon-cli.exe" read --fast COM1 "$(wine_path "$WORK/installed-read.sbn")"
stop_sim
check "byte for byte" cmp "$WORK/installed.sbn" "$WORK/installed-read.sbn"
# The installed program as a user starts it: its main window on the screen.
start_sim "$WORK/installed.sbn" --baud 19200
wine "$dir/trellikon.exe" >/dev/null 2>&1 &
program=$!
for _ in $(seq 60); do
    xdotool search --name "TRELLIKON" >/dev/null 2>&1 && break
    sleep 0.5
done
sleep 2
import -window root "$SHOTS/installed-main-window.png"
check "the installed program shows its main window" xdotool search --name "TRELLIKON"
# While it runs, neither an upgrade nor the uninstaller (run in place, so that
# its exit code is its own) touches a file of it.
installed_sums() { (cd "$dir" && find . -type f -exec md5sum {} + | sort); }
untouched_while_running() {
    local before
    before="$(installed_sums)"
    wine "$INSTALLER" /S >/dev/null 2>&1 && { echo "    the upgrade was not refused"; return 1; }
    wine "$dir/odinstaluj.exe" /S "_?=$(wine_path "$dir")" >/dev/null 2>&1 &&
        { echo "    the uninstall was not refused"; return 1; }
    [ "$(installed_sums)" = "$before" ] && xdotool search --name "TRELLIKON" >/dev/null
}
check "an upgrade and an uninstall are refused while the program runs, its files whole" untouched_while_running
wine taskkill /f /im trellikon.exe >/dev/null 2>&1 || kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
stop_sim

# The programs carry their manifest: run as the user, Windows 10 and 11, long names.
has_manifest() {
    local exe="$1"
    grep -q 'level="asInvoker"' "$exe" && grep -q '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' "$exe" &&
        grep -q '<longPathAware[^>]*>true<' "$exe" && ! grep -q 'dpiAware' "$exe"
}
check "trellikon.exe carries its manifest" has_manifest "$dir/trellikon.exe"
check "trellikon-cli.exe carries its manifest" has_manifest "$dir/trellikon-cli.exe"

# *.sbn is the program's file type, and a template opened through it (as a
# double click opens it) shows the parameters editor with the file's values.
# A value of a registry key (its default value without a name). Wine's reg
# prints in the console's code page, so letters beyond ASCII are matched as
# any one or two bytes.
reg_value() {
    if [ -n "${2:-}" ]; then
        wine reg query "$1" /v "$2"
    else
        wine reg query "$1" /ve
    fi 2>/dev/null | tr -d '\r'
}
registered() {
    reg_value 'HKCU\Software\Classes\.sbn' | grep -q 'Trellikon\.Szablon' &&
        reg_value 'HKCU\Software\Classes\Trellikon.Szablon\shell\open\command' | grep -qi 'trellikon\.exe" "%1"' &&
        reg_value 'HKCU\Software\Classes\Trellikon.Szablon\DefaultIcon' | grep -qi 'trellikon\.exe,0' &&
        reg_value 'HKCU\Software\Classes\Trellikon.Szablon\shell\open' | LC_ALL=C grep -q 'Otw.\{1,2\}rz'
}
check "the installer registers the template file type" registered
listed() {
    local key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Trellikon'
    reg_value "$key" DisplayName | grep -q 'Trellikon' &&
        reg_value "$key" DisplayVersion | grep -q "$VERSION" &&
        reg_value "$key" Publisher | grep -q 'Trellikon developers' &&
        reg_value "$key" EstimatedSize | grep -q 'REG_DWORD.*0x[1-9a-f]'
}
check "the list of programs shows name, version, publisher and size" listed
"$TOP/build/tools/trellikon-cli" demo "$WORK/opened.sbn" >/dev/null
"$TOP/build/tools/trellikon-cli" set "$WORK/opened.sbn" user_numbers.1=600700800 >/dev/null
# What Explorer runs for a double click: the registered command with the
# file for %1. (Wine's own "start" does not look in the user's classes, which
# Windows merges into the machine's.)
open_command=$(reg_value 'HKCU\Software\Classes\Trellikon.Szablon\shell\open\command' |
    sed -n 's/.*REG_SZ *"\([^"]*\)" "%1"$/\1/p')
wine "$open_command" "$(wine_path "$WORK/opened.sbn")" >/dev/null 2>&1 &
opener=$!
for _ in $(seq 60); do
    xdotool search --name "PARAMETRY" >/dev/null 2>&1 && break
    sleep 0.5
done
sleep 2
import -window root "$SHOTS/template-opened-by-type.png"
check "a template opened by its type shows the parameters editor" xdotool search --name "PARAMETRY"
wine taskkill /f /im trellikon.exe >/dev/null 2>&1 || true
wait "$opener" 2>/dev/null || true

# A second install over the first replaces it in place: a file the older
# version's list names and this one does not ship goes (no stale DLL), a file
# of the user's stays, and there is still one Start-menu entry.
touch "$dir/Qt6Stale.dll"
printf 'Qt6Stale.dll\r\n' >>"$dir/trellikon-files.txt"
echo notatki >"$dir/notatki.txt"
check "installing again over the installed version" wine "$INSTALLER" /S
check "no DLL of the older install stays, the user's file does" \
    test ! -e "$dir/Qt6Stale.dll" -a -f "$dir/trellikon.exe" -a -f "$dir/notatki.txt"
check "still one Start-menu entry" \
    test "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -name 'Trellikon.lnk' | wc -l)" -eq 1

# Files of the user's in the program's folder (a picture in its obrazy, another
# program's DLL, a note) are not the uninstaller's to remove. It runs from a
# copy of itself in the temporary folder; wait for it.
mkdir -p "$dir/obrazy"
echo wesele >"$dir/obrazy/wesele.jpg"
echo obcy >"$dir/sterownik.dll"
check "silent uninstall" wine "$dir/odinstaluj.exe" /S
for _ in $(seq 60); do [ -e "$dir/odinstaluj.exe" ] || break; sleep 0.5; done
sleep 1
only_users_files_left() {
    local left
    left="$(cd "$dir" && find . -type f | LC_ALL=C sort | tr '\n' ' ')"
    [ "$left" = "./notatki.txt ./obrazy/wesele.jpg ./sterownik.dll " ] || { echo "    left: $left"; return 1; }
}
check "the uninstaller removes its own files and none of the user's" only_users_files_left
rm -rf "$dir"
unregistered() {
    ! wine reg query 'HKCU\Software\Classes\Trellikon.Szablon' >/dev/null 2>&1 &&
        ! wine reg query 'HKCU\Software\Classes\.sbn' >/dev/null 2>&1 &&
        ! wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Trellikon' >/dev/null 2>&1
}
check "the uninstaller removes the file type and the list entry" unregistered

# A folder of the user's that is not empty and holds no Trellikon is refused,
# and nothing in it is touched.
foreign="$WINEPREFIX/drive_c/Moje"
rm -rf "$foreign"
mkdir -p "$foreign/obrazy"
echo wesele >"$foreign/obrazy/wesele.jpg"
echo obcy >"$foreign/sterownik.dll"
echo notatki >"$foreign/notatki.txt"
refuses_foreign_folder() {
    local before
    before="$(cd "$foreign" && find . -exec ls -ld --time-style=+%s {} + | sort)"
    wine "$INSTALLER" /S '/D=C:\Moje' >/dev/null 2>&1 && { echo "    installed"; return 1; }
    [ "$(cd "$foreign" && find . -exec ls -ld --time-style=+%s {} + | sort)" = "$before" ]
}
check "an install into a folder of the user's files is refused, the files untouched" refuses_foreign_folder
rm -rf "$foreign"

echo "Windows checks: $failures failed, $(( SECONDS - started )) s; screenshots in $SHOTS"
[ "$failures" -eq 0 ]
