#!/usr/bin/env bash
# Installs what the program, its tests, its fuzz targets and its demo need on Debian 12 (skipping
# what is there), then configures and builds the program in Release mode against the stand-in
# service.
# Usage: tools/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
install_missing cmake g++ make pkg-config libxcb1-dev \
    qt6-base-dev qt6-base-private-dev qt6-webengine-dev qt6-tools-dev qt6-l10n-tools \
    qt6-translations-l10n libjsoncpp-dev \
    xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei \
    clang libclang-rt-14-dev

build=${1:-build}
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DVELTRO_SERVICE_URL=http://127.0.0.1:18080 "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
