#!/usr/bin/env bash
# Builds the Debian package from the normal build (build/trellikon_*.deb),
# with the user manual (scripts/manual.sh). With --check (CI, as root) it
# checks the package with lintian, then installs the package with apt-get, runs
# the installed programs once and removes the package again, so that a broken
# install rule or a missing dependency shows before anyone installs it.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# dpkg-shlibdeps finds the dependencies; CPack uses `file` to find what it scans.
install_missing dpkg-dev file
build_into "$TOP/build"
# The user manual with fresh pictures of the windows goes into the package.
"$TOP/scripts/manual.sh" "$TOP/build" >/dev/null
rm -f "$TOP"/build/trellikon_*.deb
(cd "$TOP/build" && cpack -G DEB >/dev/null)
deb=$(ls "$TOP"/build/trellikon_*.deb)
echo "$deb"
dpkg-deb --field "$deb" Package Version Depends >&2
contents=$(dpkg-deb --contents "$deb")
if ! grep -q ' \./usr/share/doc/trellikon/instrukcja\.html$' <<<"$contents"; then
    echo "package: the manual is missing from $(basename "$deb")" >&2
    exit 1
fi

[ "${1:-}" = "--check" ] || exit 0
# Their triggers register the template type and the entry that opens it.
install_missing desktop-file-utils shared-mime-info lintian
# As a Debian reviewer checks it: no error and no warning. The tags the
# package overrides, with their reasons, are in packaging/debian/lintian-overrides.
lintian --fail-on error,warning --display-level '>=warning' "$deb" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >&2
trap 'apt-get remove -y -qq trellikon >&2' EXIT

trellikon-cli --help >/dev/null
# The window program answers these without a display.
env -u DISPLAY -u WAYLAND_DISPLAY trellikon --help >/dev/null
trellikon --version | grep -q '^trellikon [0-9]'
trellikon-sim --help >/dev/null
for page in trellikon trellikon-cli trellikon-sim; do
    test -s "/usr/share/man/man1/$page.1.gz"
done
desktop-file-validate /usr/share/applications/trellikon.desktop
desktop-file-validate /usr/share/applications/trellikon-instrukcja.desktop
test -s /usr/share/icons/hicolor/scalable/apps/trellikon.svg
# A double click on a template opens the program: *.sbn has its type, and the
# desktop entry is the one that opens that type.
grep -qx 'application/x-trellikon-template:\*\.sbn' <(cut -d: -f2- /usr/share/mime/globs2)
grep -q '^application/x-trellikon-template=.*trellikon\.desktop' /usr/share/applications/mimeinfo.cache
# The manual's menu entry opens the page that is there, with all its pictures.
launcher=$(sed -n 's/^Exec=//p' /usr/share/applications/trellikon-instrukcja.desktop)
test -x "$launcher"
manual=$(sed -n 's/^exec xdg-open //p' "$launcher")
test -s "$manual"
for picture in $(grep -o 'obrazy/[A-Za-z0-9_-]*\.png' "$manual" | sort -u); do
    test -s "$(dirname "$manual")/$picture"
done

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
