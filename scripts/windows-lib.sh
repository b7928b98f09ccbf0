# Sourced by scripts/windows.sh and scripts/windows-check.sh (after setup.sh):
# the Windows cross build's packages, folders and steps.

WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                  dpkg-dev nasm wine wine64 nsis zip unzip xvfb xauth imagemagick librsvg2-bin xdotool
                  fonts-dejavu-core qt6-translations-l10n osslsigncode openssl)
TRIPLE=x86_64-w64-mingw32
WIN_CACHE="${TRELLIKON_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/trellikon-windows}"
WIN_BUILD="$TOP/build-windows"
TOOLCHAIN="$TOP/scripts/mingw-toolchain.cmake"
# The toolkit is built from the source of the very versions the Linux build
# uses: each cached source and prefix is keyed by the Debian version it came
# from (and the prefix also by the configuration below), so a newer Debian
# package, or a changed option, never reuses an older build.
QT_DEB_VERSION="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
QT_VERSION="$(echo "$QT_DEB_VERSION" | sed 's/+.*//; s/-.*//')"
JPEG_DEB_VERSION="$(dpkg-query -W -f='${Version}' libjpeg62-turbo-dev 2>/dev/null || echo none)"
# The folder of the compiler's runtime DLLs (libstdc++, libgcc_s); asked for
# once the compiler is installed.
mingw_runtime() { dirname "$("$TRIPLE-g++-posix" -print-libgcc-file-name)"; }

log() { echo "== $*" >&2; }

sudo_cmd() {
    if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# apt-get source needs source entries. Add the source twins of the machine's
# own Debian entries (deb822 and one-line lists) in a private list when none
# are configured yet.
enable_sources() {
    if apt-get source --print-uris qt6-base >/dev/null 2>&1; then return 0; fi
    local codename list=/etc/apt/sources.list.d/trellikon-sources.sources
    codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    log "adding source entries for $codename in $list"
    {
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] && [ "$f" != "$list" ] || continue
            awk -v RS= -v ORS='\n\n' -v c="$codename" \
                '/(^|\n)Types:[^\n]*deb/ && /(^|\n)Suites:[^\n]*/ && $0 ~ ("Suites:[^\n]*" c) \
                 && !/(^|\n)Enabled: *no/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
        done
        if [ -f /etc/apt/sources.list ]; then
            sed -n "s/^deb \(\[[^]]*\] \)\?\([^ ]*\) \($codename[^ ]*\) \(.*\)/Types: deb-src\nURIs: \2\nSuites: \3\nComponents: \4\n/p" \
                /etc/apt/sources.list
        fi
    } | sudo_cmd tee "$list" >/dev/null
    sudo_cmd apt-get update -qq
}

# Unpacks Debian's source package $1 at Debian version $2 into its own folder
# under $WIN_CACHE/src and prints the folder of the unpacked tree.
fetch_source() {
    local pkg="$1" version="$2" home dir
    home="$WIN_CACHE/src/$pkg-$(echo "$version" | tr -c 'A-Za-z0-9.+~\n-' '_')"
    dir="$(find "$home" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | head -n1)"
    if [ ! -f "$home/.complete" ] || [ -z "$dir" ]; then
        enable_sources
        rm -rf "$home"
        mkdir -p "$home"
        # A binary-only rebuild (+bN) has no source of its own.
        (cd "$home" && apt-get source -qq "$pkg=${version%+b[0-9]*}" >&2)
        dir="$(find "$home" -mindepth 1 -maxdepth 1 -type d | head -n1)"
        [ -n "$dir" ] && touch "$home/.complete"
    fi
    [ -n "$dir" ] || { echo "no source folder for $pkg $version" >&2; return 1; }
    echo "$dir"
}

# Only what the programs and their tests use. The windows platform plugin and
# the styles are shipped; the offscreen plugin is not shipped but runs the
# test programs headless under Wine (the minimal plugin is always built). The
# windows plugin does not build without OpenGL (loaded at run time) nor without
# Direct2D, which its DirectWrite fonts use; only the direct2d plugin is left out.
QT_OPTIONS=(
    -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DBUILD_SHARED_LIBS=ON
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_opengl=ON -DFEATURE_opengl_dynamic=ON
    -DFEATURE_direct2d=ON -DFEATURE_direct2d1_1=OFF -DFEATURE_tabletevent=OFF
    -DFEATURE_sql_sqlite=OFF -DFEATURE_sessionmanager=OFF -DFEATURE_systemtrayicon=OFF
    -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF
    -DFEATURE_gif=OFF -DFEATURE_jpeg=OFF -DFEATURE_movie=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
    -DFEATURE_pkg_config=OFF -DFEATURE_fontconfig=OFF
    -DFEATURE_androiddeployqt=OFF -DFEATURE_qmake=OFF
)
config_key() { printf '%s\n' "$@" | sha256sum | cut -c1-10; }
QT_PREFIX="$WIN_CACHE/qt-$(echo "$QT_DEB_VERSION" | tr -c 'A-Za-z0-9.+~\n-' '_')-$(config_key "${QT_OPTIONS[@]}")"
JPEG_PREFIX="$WIN_CACHE/libjpeg-$(echo "$JPEG_DEB_VERSION" | tr -c 'A-Za-z0-9.+~\n-' '_')"

build_libjpeg() {
    [ -f "$JPEG_PREFIX/.complete" ] && return 0
    local src
    src="$(fetch_source libjpeg-turbo "$JPEG_DEB_VERSION")"
    log "building libjpeg for Windows from $(basename "$src")"
    rm -rf "$WIN_CACHE/build-libjpeg" "$JPEG_PREFIX"
    cmake -S "$src" -B "$WIN_CACHE/build-libjpeg" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$JPEG_PREFIX" \
        -DENABLE_SHARED=ON -DENABLE_STATIC=OFF -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF \
        -DCMAKE_SYSTEM_PROCESSOR=AMD64 >/dev/null
    cmake --build "$WIN_CACHE/build-libjpeg" -j"${JOBS:-$(nproc)}" >/dev/null
    cmake --install "$WIN_CACHE/build-libjpeg" >/dev/null
    rm -rf "$WIN_CACHE/build-libjpeg"
    touch "$JPEG_PREFIX/.complete"
}

# SQLite for Windows, for the installations register: a static library made
# from Debian's own source of the very version the Linux build links, so that
# no DLL joins the bundle. Its single-file form (sqlite3.c) is generated by the
# source tree's own build on this machine (which needs tclsh), then compiled
# with the cross compiler. The register's CMakeLists finds it through
# TRELLIKON_SQLITE_PREFIX.
build_sqlite() {
    local version src work
    version="$(dpkg-query -W -f='${Version}' libsqlite3-dev)"
    export TRELLIKON_SQLITE_PREFIX="$WIN_CACHE/sqlite-$(echo "$version" | tr -c 'A-Za-z0-9.+~\n-' '_')"
    [ -f "$TRELLIKON_SQLITE_PREFIX/.complete" ] && return 0
    install_missing tcl
    src="$(fetch_source sqlite3 "$version")"
    log "building SQLite for Windows from $(basename "$src")"
    work="$WIN_CACHE/build-sqlite"
    rm -rf "$work" "$TRELLIKON_SQLITE_PREFIX"
    mkdir -p "$work" "$TRELLIKON_SQLITE_PREFIX/include" "$TRELLIKON_SQLITE_PREFIX/lib"
    (cd "$work" && "$src/configure" --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
    "$TRIPLE-gcc-posix" -O2 -DNDEBUG -DSQLITE_THREADSAFE=1 -DSQLITE_DQS=0 \
        -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DEFAULT_FOREIGN_KEYS=0 \
        -c "$work/sqlite3.c" -o "$work/sqlite3.o"
    "$TRIPLE-ar" rcs "$TRELLIKON_SQLITE_PREFIX/lib/libsqlite3.a" "$work/sqlite3.o"
    cp "$work/sqlite3.h" "$TRELLIKON_SQLITE_PREFIX/include/"
    rm -rf "$work"
    touch "$TRELLIKON_SQLITE_PREFIX/.complete"
}

# Unpacks Debian's source of $1 like fetch_source, at the version $2 when the
# archive still has it, else at the newest it can give (a security update
# replaces an older OpenSSL there, and a mirror may list one it lacks); prints
# "VERSION FOLDER".
fetch_source_near() {
    local pkg="$1" wanted="${2%+b[0-9]*}" v dir
    enable_sources
    local versions=("$wanted" $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -Vr))
    for v in "${versions[@]}"; do # one unpacked before: no download at all
        if [ -f "$WIN_CACHE/src/$pkg-$(echo "$v" | tr -c 'A-Za-z0-9.+~\n-' '_')/.complete" ]; then
            echo "$v $(fetch_source "$pkg" "$v")"
            return 0
        fi
    done
    for v in "${versions[@]}"; do
        if dir="$(fetch_source "$pkg" "$v" 2>/dev/null)"; then
            echo "$v $dir"
            return 0
        fi
        rm -rf "$WIN_CACHE/src/$pkg-$(echo "$v" | tr -c 'A-Za-z0-9.+~\n-' '_')"
    done
    echo "no source of $pkg in the archive" >&2
    return 1
}

# libpq for Windows, for the company register, with the OpenSSL it speaks TLS
# through: both from Debian's own sources, OpenSSL's libraries only (no
# programs, tests or documents), and of PostgreSQL only the client library.
# The register's CMakeLists finds it through TRELLIKON_LIBPQ_PREFIX; its DLLs
# (libpq, libssl, libcrypto) join the bundle.
build_libpq() {
    local ssl_version pq_version ssl_prefix ssl_src pq_src work started=$SECONDS
    read -r ssl_version ssl_src < <(fetch_source_near openssl "$(dpkg-query -W -f='${Version}' openssl)")
    read -r pq_version pq_src < <(fetch_source_near postgresql-15 "$(dpkg-query -W -f='${Version}' libpq-dev)")
    [ -n "$ssl_src" ] && [ -n "$pq_src" ] || return 1
    ssl_prefix="$WIN_CACHE/openssl-$(echo "$ssl_version" | tr -c 'A-Za-z0-9.+~\n-' '_')"
    export TRELLIKON_LIBPQ_PREFIX="$WIN_CACHE/libpq-$(echo "$pq_version-$ssl_version" | tr -c 'A-Za-z0-9.+~\n-' '_')"
    [ -f "$TRELLIKON_LIBPQ_PREFIX/.complete" ] && return 0
    if [ ! -f "$ssl_prefix/.complete" ]; then
        log "building OpenSSL for Windows from $(basename "$ssl_src")"
        work="$WIN_CACHE/build-openssl"
        rm -rf "$work" "$ssl_prefix"
        cp -r "$ssl_src" "$work"
        (cd "$work" &&
            ./Configure mingw64 --cross-compile-prefix="$TRIPLE-" --prefix="$ssl_prefix" \
                --libdir=lib shared no-tests no-engine no-legacy >"$WIN_CACHE/openssl-build.log" 2>&1 &&
            make -j"${JOBS:-$(nproc)}" build_libs >>"$WIN_CACHE/openssl-build.log" 2>&1 &&
            make install_dev >>"$WIN_CACHE/openssl-build.log" 2>&1) \
            || { tail -n 40 "$WIN_CACHE/openssl-build.log" >&2; return 1; }
        rm -rf "$work"
        touch "$ssl_prefix/.complete"
        log "OpenSSL for Windows built in $((SECONDS - started)) s"
    fi
    log "building libpq for Windows from $(basename "$pq_src")"
    work="$WIN_CACHE/build-libpq"
    rm -rf "$work" "$TRELLIKON_LIBPQ_PREFIX"
    mkdir -p "$work" "$TRELLIKON_LIBPQ_PREFIX"/{include,lib,bin}
    (cd "$work" &&
        "$pq_src/configure" --host="$TRIPLE" --prefix="$work/installed" --without-readline \
            --without-zlib --without-icu --with-ssl=openssl \
            CC="$TRIPLE-gcc-posix" CPPFLAGS="-I$ssl_prefix/include" LDFLAGS="-L$ssl_prefix/lib" \
            >"$WIN_CACHE/libpq-build.log" 2>&1 &&
        make -C src/interfaces/libpq -j"${JOBS:-$(nproc)}" >>"$WIN_CACHE/libpq-build.log" 2>&1 &&
        make -C src/interfaces/libpq install >>"$WIN_CACHE/libpq-build.log" 2>&1) \
        || { tail -n 40 "$WIN_CACHE/libpq-build.log" >&2; return 1; }
    cp "$work/installed/include/libpq-fe.h" "$pq_src/src/include/postgres_ext.h" \
        "$work/src/include/pg_config_ext.h" "$TRELLIKON_LIBPQ_PREFIX/include/"
    cp "$work/installed/lib/libpq.dll.a" "$TRELLIKON_LIBPQ_PREFIX/lib/" 2>/dev/null ||
        cp "$work/src/interfaces/libpq/libpq.a" "$TRELLIKON_LIBPQ_PREFIX/lib/libpq.dll.a"
    cp "$(find "$work/installed" -name libpq.dll | head -n1)" "$TRELLIKON_LIBPQ_PREFIX/bin/"
    cp "$ssl_prefix"/bin/lib{ssl,crypto}-3-x64.dll "$TRELLIKON_LIBPQ_PREFIX/bin/"
    rm -rf "$work"
    touch "$TRELLIKON_LIBPQ_PREFIX/.complete"
    log "libpq for Windows built in $((SECONDS - started)) s"
}

# Qt base for Windows: Core, Gui, Widgets, the windows platform plugin and the
# styles; everything it needs bundled. Its host tools (moc, uic, rcc) are the
# machine's own from qt6-base-dev-tools, of the same version.
build_qt() {
    [ -f "$QT_PREFIX/.complete" ] && return 0
    local src started=$SECONDS
    src="$(fetch_source qt6-base "$QT_DEB_VERSION")"
    log "building Qt $QT_VERSION for Windows from $(basename "$src") (once per machine, about half an hour on 2 cores)"
    # A build that was stopped half way (a session or a CI run ended) goes on
    # where it stopped, as long as it was configured the same way.
    local key="$src ${QT_OPTIONS[*]}"
    if [ ! -f "$WIN_CACHE/build-qt/build.ninja" ] ||
        [ "$(cat "$WIN_CACHE/build-qt/.configured" 2>/dev/null)" != "$key" ]; then
        rm -rf "$WIN_CACHE/build-qt" "$QT_PREFIX"
        cmake -S "$src" -B "$WIN_CACHE/build-qt" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$QT_PREFIX" -DQT_HOST_PATH=/usr \
            -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
            "${QT_OPTIONS[@]}" >"$WIN_CACHE/qt-configure.log" 2>&1 \
            || { tail -n 40 "$WIN_CACHE/qt-configure.log" >&2; return 1; }
        echo "$key" >"$WIN_CACHE/build-qt/.configured"
    fi
    cmake --build "$WIN_CACHE/build-qt" -j"${JOBS:-$(nproc)}" >"$WIN_CACHE/qt-build.log" 2>&1 \
        || { tail -n 40 "$WIN_CACHE/qt-build.log" >&2; return 1; }
    cmake --install "$WIN_CACHE/build-qt" >/dev/null
    rm -rf "$WIN_CACHE/build-qt"
    touch "$QT_PREFIX/.complete"
    log "Qt for Windows built in $(( (SECONDS - started) / 60 )) min"
}

build_toolkit() {
    mkdir -p "$WIN_CACHE"
    build_libjpeg
    build_sqlite
    build_libpq
    build_qt
}

VERSION="$(sed -n 's/^project(trellikon VERSION \([0-9.]*\).*/\1/p' "$TOP/CMakeLists.txt")"
WIN_PROJECT="$WIN_BUILD/build"
BUNDLE="$WIN_BUILD/trellikon-$VERSION"
ZIP="$WIN_BUILD/trellikon-$VERSION-windows-x64.zip"
INSTALLER="$WIN_BUILD/trellikon-setup-$VERSION.exe"

# "Z:\path\to\dir" for Wine, which sees the Linux tree as drive Z:.
wine_path() { printf 'Z:%s' "${1//\//\\}"; }

# The folders of the DLLs the Windows programs load, for WINEPATH.
windows_dll_path() {
    local dirs=("$QT_PREFIX/bin" "$JPEG_PREFIX/bin" "$TRELLIKON_LIBPQ_PREFIX/bin" "$(mingw_runtime)"
                "/usr/$TRIPLE/lib") out=() d
    for d in "${dirs[@]}"; do out+=("$(wine_path "$d")"); done
    local IFS=';'
    echo "${out[*]}"
}

make_icon() {
    local ico="$WIN_BUILD/trellikon.ico" size pngs=()
    [ "$ico" -nt "$TOP/app/trellikon.svg" ] && return 0
    mkdir -p "$WIN_BUILD/icon"
    for size in 16 24 32 48 64 256; do
        rsvg-convert -w "$size" -h "$size" "$TOP/app/trellikon.svg" -o "$WIN_BUILD/icon/$size.png"
        pngs+=("$WIN_BUILD/icon/$size.png")
    done
    convert "${pngs[@]}" "$ico"
}

build_project() {
    mkdir -p "$WIN_BUILD"
    make_icon
    log "building trellikon.exe and trellikon-cli.exe in $WIN_PROJECT"
    # -O2 as in the Linux build: g++ 12 at -O3 warns falsely (-Wrestrict) inside std::string.
    cmake -S "$TOP" -B "$WIN_PROJECT" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DCMAKE_TOOLCHAIN_FILE="$QT_PREFIX/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DJPEG_INCLUDE_DIR="$JPEG_PREFIX/include" -DJPEG_LIBRARY="$JPEG_PREFIX/lib/libjpeg.dll.a" \
        -DTRELLIKON_ICON="$WIN_BUILD/trellikon.ico" \
        -DTRELLIKON_WINEPATH="$(windows_dll_path)" \
        -DTRELLIKON_WINE_QT_PLUGINS="$(wine_path "$QT_PREFIX/plugins")" >/dev/null
    cmake --build "$WIN_PROJECT" -j"${JOBS:-$(nproc)}"
}

# The portable folder: the programs, the DLLs they load (checked: every DLL
# that is not part of Windows must be in the folder), the platform and style
# plugins, Qt's Polish translations and the settings sheet's face (DejaVu
# Sans with its licence); the programs and DLLs signed when a certificate is
# given (scripts/windows-sign.sh).
make_bundle() {
    log "packing $BUNDLE"
    rm -rf "$BUNDLE"
    mkdir -p "$BUNDLE/platforms" "$BUNDLE/styles" "$BUNDLE/translations"
    cp "$WIN_PROJECT/app/trellikon.exe" "$WIN_PROJECT/tools/trellikon-cli.exe" "$BUNDLE/"
    cp "$QT_PREFIX"/bin/Qt6{Core,Gui,Widgets}.dll "$BUNDLE/"
    cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$BUNDLE/platforms/"
    cp "$QT_PREFIX/plugins/styles/qwindowsvistastyle.dll" "$BUNDLE/styles/"
    cp "$JPEG_PREFIX"/bin/libjpeg-*.dll "$BUNDLE/"
    cp "$TRELLIKON_LIBPQ_PREFIX"/bin/*.dll "$BUNDLE/"
    cp "$TOP/register/company_server.sql" "$BUNDLE/"
    cp "$(mingw_runtime)"/{libstdc++-6,libgcc_s_seh-1}.dll "/usr/$TRIPLE/lib/libwinpthread-1.dll" "$BUNDLE/"
    cp /usr/share/qt6/translations/qtbase_pl.qm "$BUNDLE/translations/"
    mkdir -p "$BUNDLE/fonts"
    cp /usr/share/fonts/truetype/dejavu/DejaVuSans{,-Bold}.ttf "$BUNDLE/fonts/"
    # (A machine that leaves out /usr/share/doc has no copy of the licence.)
    if [ -f /usr/share/doc/fonts-dejavu-core/copyright ]; then
        sed 's/$/\r/' /usr/share/doc/fonts-dejavu-core/copyright >"$BUNDLE/fonts/DejaVu-licencja.txt"
    fi
    sed 's/$/\r/' "$TOP/packaging/windows/README.txt" > "$BUNDLE/README.txt"
    # The user manual as scripts/manual.sh built it: the page and its pictures.
    cp "$MANUAL/instrukcja.html" "$BUNDLE/"
    cp -r "$MANUAL/obrazy" "$BUNDLE/"
    find "$BUNDLE" \( -name '*.exe' -o -name '*.dll' \) -exec "$TRIPLE-strip" --strip-unneeded {} +
    check_bundle_dlls
    local binaries=()
    mapfile -t binaries < <(find "$BUNDLE" \( -name '*.exe' -o -name '*.dll' \) | sort)
    "$TOP/scripts/windows-sign.sh" "${binaries[@]}"
    rm -f "$ZIP"
    (cd "$WIN_BUILD" && zip -qr "$ZIP" "$(basename "$BUNDLE")")
    log "portable zip: $ZIP ($(du -h "$ZIP" | cut -f1))"
}

check_bundle_dlls() {
    local missing=() f dll
    for f in $(find "$BUNDLE" -name '*.exe' -o -name '*.dll'); do
        for dll in $("$TRIPLE-objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
            case "${dll,,}" in
                api-ms-win-*|kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ole32.dll|\
                oleaut32.dll|comdlg32.dll|comctl32.dll|uxtheme.dll|dwmapi.dll|imm32.dll|winmm.dll|\
                ws2_32.dll|version.dll|netapi32.dll|userenv.dll|setupapi.dll|msvcrt.dll|shlwapi.dll|\
                d3d9.dll|d3d11.dll|d3d12.dll|dxgi.dll|dwrite.dll|d2d1.dll|dcomp.dll|opengl32.dll|\
                mpr.dll|authz.dll|crypt32.dll|secur32.dll|wtsapi32.dll|shcore.dll|ntdll.dll|\
                rpcrt4.dll|bcrypt.dll|cfgmgr32.dll|imagehlp.dll|dbghelp.dll) ;;
                # Windows finds a DLL whatever the case of its name (libpq's
                # import library names LIBPQ.dll).
                *) [ -n "$(find "$BUNDLE" -maxdepth 1 -iname "$dll" -print -quit)" ] ||
                    missing+=("$(basename "$f") -> $dll") ;;
            esac
        done
    done
    if [ ${#missing[@]} -gt 0 ]; then
        printf 'missing from the bundle: %s\n' "${missing[@]}" >&2
        return 1
    fi
}

# A throwaway self-signed code-signing certificate, made afresh for each
# check, so that signing and verifying are tried on every CI run; never one to
# ship with (README: signing a release).
use_test_certificate() {
    local d="$WIN_BUILD/test-certificate"
    rm -rf "$d"
    mkdir -p "$d"
    openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Trellikon test signature" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$d/key.pem" -out "$d/cert.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$d/key.pem" -in "$d/cert.pem" -out "$d/cert.p12" -passout pass:test
    export TRELLIKON_SIGN_CERT="$d/cert.p12" TRELLIKON_SIGN_PASSWORD=test
    log "signing with a throwaway test certificate ($d)"
}

# The installer's list of files, made from the bundle at build time, so that
# what it installs, what its uninstaller removes and what an upgrade keeps are
# one list: the macros and the function that installer.nsi includes as FILES.
make_file_list() {
    local nsh="$1" f dir last="" i
    local -a files dirs
    mapfile -t files < <(cd "$BUNDLE" && find . -type f -printf '%P\n' | LC_ALL=C sort)
    mapfile -t dirs < <(cd "$BUNDLE" && find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort)
    win() { printf '%s' "${1//\//\\}"; }
    {
        # A byte-order mark: makensis then reads names beyond ASCII as UTF-8.
        printf '\xef\xbb\xbf'
        echo "; Made by scripts/windows-lib.sh from $(basename "$BUNDLE"); not to be edited."
        echo '!macro InstallProgramFiles'
        for f in "${files[@]}"; do
            dir="$(dirname "$f")"
            if [ "$dir" != "$last" ]; then
                if [ "$dir" = . ]; then echo '  SetOutPath "$INSTDIR"'
                else echo "  SetOutPath \"\$INSTDIR\\$(win "$dir")\""; fi
                last="$dir"
            fi
            echo "  File \"\${BUNDLE}\\$(win "$f")\""
        done
        echo '  SetOutPath "$INSTDIR"'
        echo '!macroend'
        echo '!macro RemoveProgramFiles DIR'
        for f in "${files[@]}"; do echo "  Delete \"\${DIR}\\$(win "$f")\""; done
        # The deepest folders first, each only when nothing else is left in it.
        for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do echo "  RMDir \"\${DIR}\\$(win "${dirs[i]}")\""; done
        echo '!macroend'
        echo '!macro WriteFileList HANDLE'
        for f in "${files[@]}"; do echo "  FileWrite \${HANDLE} \"$(win "$f")\$\\r\$\\n\""; done
        echo '!macroend'
        echo '; Pops a name relative to the folder; pushes 1 when this version ships it, else 0.'
        echo 'Function IsShipped'
        echo '  Exch $0'
        for f in "${files[@]}"; do echo "  StrCmp \$0 \"$(win "$f")\" shipped"; done
        echo '  StrCpy $0 0'
        echo '  Exch $0'
        echo '  Return'
        echo '  shipped:'
        echo '  StrCpy $0 1'
        echo '  Exch $0'
        echo 'FunctionEnd'
    } >"$nsh"
}

make_installer() {
    log "making $INSTALLER"
    local list="$WIN_BUILD/installed-files.nsh" sign=()
    make_file_list "$list"
    # The installer and the uninstaller it writes are signed as makensis
    # finishes each of them, when a certificate is given.
    if [ -n "${TRELLIKON_SIGN_CERT:-}" ]; then
        sign=(-DSIGN="$TOP/scripts/windows-sign.sh")
    fi
    makensis -V2 -DBUNDLE="$BUNDLE" -DOUTFILE="$INSTALLER" -DFILES="$list" "${sign[@]}" \
        "$WIN_PROJECT/installer.nsi" >&2
    [ -n "${TRELLIKON_SIGN_CERT:-}" ] || log "the installer is not signed (no TRELLIKON_SIGN_CERT)"
    log "installer: $INSTALLER ($(du -h "$INSTALLER" | cut -f1))"
}
