#!/usr/bin/env bash
# Builds the Windows program from Debian: trellikon.exe and trellikon-cli.exe
# with the mingw-w64 cross compiler, against a Qt for Windows built from
# Debian's own qt6-base source package and a libjpeg built from its
# libjpeg-turbo source package; then the NSIS installer and the portable zip.
#
#   scripts/windows.sh              build everything, make the installer and zip
#   scripts/windows.sh --check      the same, then run the Windows tests under Wine
#                                   (signed with a throwaway certificate when
#                                   none is given)
#   scripts/windows.sh --toolkit    only the cached Qt and libjpeg for Windows
#
# Qt and libjpeg are built once per machine and kept in
# ${TRELLIKON_WINDOWS_CACHE:-$XDG_CACHE_HOME/trellikon-windows}; the project
# itself is built in build-windows/. Sources come through the machine's own apt
# configuration: when it has no source entries, a private list with the source
# twins of its Debian entries is added.
#
# With TRELLIKON_SIGN_CERT (a .pfx file) and TRELLIKON_SIGN_PASSWORD set, the
# programs, the DLLs, the installer and its uninstaller are signed
# (scripts/windows-sign.sh); without them the build says they are unsigned.
set -euo pipefail

TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$TOP/scripts/setup.sh"
source "$TOP/scripts/windows-lib.sh"

mode="${1:-build}"
case "$mode" in
    build|--check|--toolkit) ;;
    *) echo "usage: $0 [--check|--toolkit]" >&2; exit 64 ;;
esac

install_missing "${WINDOWS_PACKAGES[@]}"
build_toolkit
[ "$mode" = "--toolkit" ] && exit 0
if [ "$mode" = "--check" ] && [ -z "${TRELLIKON_SIGN_CERT:-}" ]; then
    use_test_certificate
fi
build_project
# The manual's pictures are the Linux program's windows, which are the same.
"$TOP/scripts/manual.sh" "$TOP/build" >/dev/null
MANUAL="$TOP/build/manual"
make_bundle
make_installer
if [ "$mode" = "--check" ]; then
    "$TOP/scripts/windows-check.sh"
fi
