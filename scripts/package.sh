#!/usr/bin/env bash
# Builds the Debian package from the normal build (build/trellikon_*.deb).
# With --check (CI, as root) it then installs the package with apt-get, runs
# the installed programs once and removes the package again, so that a broken
# install rule or a missing dependency shows before anyone installs it.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# dpkg-shlibdeps finds the dependencies; CPack uses `file` to find what it scans.
install_missing dpkg-dev file
build_into "$TOP/build"
rm -f "$TOP"/build/trellikon_*.deb
(cd "$TOP/build" && cpack -G DEB >/dev/null)
deb=$(ls "$TOP"/build/trellikon_*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Depends >&2

[ "${1:-}" = "--check" ] || exit 0
# Their triggers register the template type and the entry that opens it.
install_missing desktop-file-utils shared-mime-info
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >&2
trap 'apt-get remove -y -qq trellikon >&2' EXIT

trellikon-cli --help >/dev/null
trellikon-sim --help >/dev/null
for page in trellikon trellikon-cli trellikon-sim; do
    test -s "/usr/share/man/man1/$page.1.gz"
done
desktop-file-validate /usr/share/applications/trellikon.desktop
test -s /usr/share/icons/hicolor/scalable/apps/trellikon.svg
# A double click on a template opens the program: *.sbn has its type, and the
# desktop entry is the one that opens that type.
grep -qx 'application/x-trellikon-template:\*\.sbn' <(cut -d: -f2- /usr/share/mime/globs2)
grep -q '^application/x-trellikon-template=.*trellikon\.desktop' /usr/share/applications/mimeinfo.cache

# The desktop entry's command, started the way a menu starts it (no file for
# its %f); it must still be running a second later.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/trellikon.desktop | sed 's/ %[fFuU]//g')
QT_QPA_PLATFORM=offscreen $exec_line &
app=$!
sleep 1
if ! kill -0 "$app" 2>/dev/null; then
    wait "$app" || true
    echo "package check: $exec_line ended within a second" >&2
    exit 1
fi
kill "$app"
wait "$app" 2>/dev/null || true
echo "package check: $(basename "$deb") installed and started; removing it" >&2
