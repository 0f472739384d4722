#!/usr/bin/env bash
# Installs what the program, its tests, its fuzz targets and its demo need on Debian 12 (skipping
# what is there), then configures and builds the program in Release mode against the stand-in
# service.
# Usage: tools/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config libxcb1-dev
    qt6-base-dev qt6-base-private-dev qt6-webengine-dev qt6-tools-dev qt6-l10n-tools
    qt6-translations-l10n libjsoncpp-dev
    xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei
    clang libclang-rt-14-dev
)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
        "${missing[@]}" >/dev/null
fi

build=${1:-build}
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DVELTRO_SERVICE_URL=http://127.0.0.1:18080 "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
