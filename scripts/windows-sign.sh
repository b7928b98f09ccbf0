#!/usr/bin/env bash
# Signs Windows programs, DLLs and installers (Authenticode, SHA-256) with
# osslsigncode, in place:
#
#   scripts/windows-sign.sh FILE...
#
# The certificate is a PKCS#12 file (.pfx/.p12) named by TRELLIKON_SIGN_CERT,
# its password in TRELLIKON_SIGN_PASSWORD (read through a pipe, never put on a
# command line); TRELLIKON_SIGN_TIMESTAMP may name the certificate issuer's
# time-stamping service (RFC 3161), so that the signatures outlive the
# certificate. Without TRELLIKON_SIGN_CERT nothing is signed and the script
# says so. scripts/windows.sh calls it for the bundle and makensis for the
# installer and the uninstaller.
set -euo pipefail

if [ -z "${TRELLIKON_SIGN_CERT:-}" ]; then
    echo "== not signed (no TRELLIKON_SIGN_CERT): $# file(s) stay unsigned" >&2
    exit 0
fi
[ -r "$TRELLIKON_SIGN_CERT" ] || { echo "cannot read the certificate $TRELLIKON_SIGN_CERT" >&2; exit 1; }
timestamp=()
[ -n "${TRELLIKON_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$TRELLIKON_SIGN_TIMESTAMP")
for f in "$@"; do
    signed="$f.signed"
    rm -f "$signed"
    osslsigncode sign -pkcs12 "$TRELLIKON_SIGN_CERT" \
        -readpass <(printf '%s' "${TRELLIKON_SIGN_PASSWORD:-}") \
        -h sha256 -n "Trellikon" "${timestamp[@]}" -in "$f" -out "$signed" >/dev/null ||
        { rm -f "$signed"; echo "signing failed: $f" >&2; exit 1; }
    mv "$signed" "$f"
done
echo "== signed $# file(s) with $(basename "$TRELLIKON_SIGN_CERT")" >&2
