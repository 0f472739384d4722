#!/usr/bin/env bash
# Builds the program, its tests and the stand-in service for 64-bit Windows on Debian 12, with
# MinGW-w64 and Debian's own sources of Qt's base module and JsonCpp. Installs what it needs from
# Debian (source packages through apt's own lists, with deb-src added beside them), then builds Qt
# and JsonCpp for Windows once into a cache folder outside the checkout, reused while their versions,
# the compiler's and the flags below match. Qt WebEngine does not build with MinGW: the program is
# built without its web-page helper.
# Usage: tools/windows-build.sh [build-dir]   (default build-windows; the cache folder is
# $VELTRO_WINDOWS_CACHE, default /var/cache/veltro-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-windows}")
cache=${VELTRO_WINDOWS_CACHE:-/var/cache/veltro-windows}
toolchain=$root/tools/windows/mingw-w64.cmake

source tools/packages.sh
# The host's Qt tools (moc, rcc, uic, lrelease) serve the cross build and must be Qt's version.
install_missing g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 cmake ninja-build \
    dpkg-dev qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-translations-l10n

# Source packages come from the same places as the binary ones: a deb-src twin of each list.
for list in /etc/apt/sources.list.d/*.sources; do
    twin=/etc/apt/sources.list.d/veltro-src-$(basename "$list")
    [[ $list == */veltro-src-* || -f $twin ]] && continue
    grep -q '^Types: deb$' "$list" || continue
    sed 's/^Types: deb$/Types: deb-src/' "$list" >"$twin"
    apt-get update -qq
done

version_of() { dpkg-query -W -f='${Version}' "$1"; }
qt_version=$(version_of qt6-base-dev-tools)
json_version=$(apt-cache showsrc libjsoncpp | sed -n 's/^Version: //p' | head -1)

# Qt for Windows, as small as the program allows.
qt_flags=(
    # The host's moc, rcc and uic, of the same version.
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    # The popups draw with Qt's raster engine; Qt 6.4's Windows platform plugin compiles without
    # OpenGL only when it does not load it at run time either.
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF
    # Debian removed the Wintab headers from its source.
    -DFEATURE_tabletevent=OFF
    # Modules that nothing here uses.
    -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    # TLS through the system's own Schannel: no OpenSSL to ship.
    -DINPUT_openssl=no -DFEATURE_schannel=ON
)
json_flags=(-DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF
    -DBUILD_OBJECT_LIBS=OFF)
stamp="qt6-base $qt_version ${qt_flags[*]}
libjsoncpp $json_version ${json_flags[*]}
$(x86_64-w64-mingw32-g++-posix --version | head -1)
$(md5sum <"$toolchain")"

# build_source PACKAGE VERSION PREFIX FLAGS...: builds Debian's source of PACKAGE for Windows into
# PREFIX.
build_source() {
    local package=$1 version=$2 prefix=$3 work
    shift 3
    work=$(mktemp -d)
    (cd "$work" && apt-get source -qq "$package=$version" >/dev/null)
    cmake -G Ninja -S "$work/$package"-*/ -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$work/configure.log" ||
        { tail -50 "$work/configure.log"; return 1; }
    cmake --build "$work/build" -j2
    cmake --install "$work/build" >/dev/null
    rm -rf "$work"
}

if [[ $(cat "$cache/stamp" 2>/dev/null) != "$stamp" ]]; then
    echo "windows-build: building Qt $qt_version and JsonCpp $json_version for Windows into $cache"
    rm -rf "$cache"
    mkdir -p "$cache"
    build_source libjsoncpp "$json_version" "$cache/jsoncpp" "${json_flags[@]}"
    build_source qt6-base "$qt_version" "$cache/qt" "${qt_flags[@]}"
    echo "$stamp" >"$cache/stamp"
fi

# The program for Windows, against the stand-in service, run at build time (the artwork tool) and
# in the tests through Wine, in a prefix of the build's own.
cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_PREFIX_PATH="$cache/qt;$cache/jsoncpp" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/windows/wine.sh;$build/wine;$cache" \
    -DVELTRO_SERVICE_URL=http://127.0.0.1:18080 -DVELTRO_WERROR=ON >/dev/null
cmake --build "$build" -j2
