# Sourced by the scripts here: installs what is missing (install_missing
# PACKAGE... for more), and build_into configures and builds into the build
# directory given as $1 (extra CMake arguments follow; JOBS caps the parallel
# jobs, default one per core).
set -euo pipefail

TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libjpeg62-turbo-dev libsqlite3-dev fonts-dejavu-core qt6-translations-l10n poppler-utils
          libpq-dev postgresql-15 openssl)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

build_into() {
    local dir="$1"; shift
    cmake -S "$TOP" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
    cmake --build "$dir" -j"${JOBS:-$(nproc)}"
}

install_missing "${PACKAGES[@]}"
