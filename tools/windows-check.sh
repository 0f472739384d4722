#!/usr/bin/env bash
# Compiles every translation unit of the program, its helper, the tools and the bench for Windows:
# MinGW-w64 against its Windows headers and Qt's public headers, which guard their Windows API with
# Q_OS_WIN, so every Windows branch is compiled. Syntax and types only: no MSVC, no linking, nothing
# runs. Any error or warning fails the check. Installs what it needs on Debian 12 when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
# The compiler, and the headers it reads: Qt's (the web engine's too) and JsonCpp's.
source tools/packages.sh
install_missing g++-mingw-w64-x86-64-posix qt6-base-dev qt6-webengine-dev libjsoncpp-dev

qt=/usr/include/x86_64-linux-gnu/qt6
flags=(-std=c++17 -fsyntax-only -Wall -Wextra -Werror -DUNICODE -D_UNICODE
    -DVELTRO_SERVICE_URL='"http://service.example.com"' -DVELTRO_SCRIPT_HOSTS='"service.example.com"'
    -DVELTRO_HELPER='"veltro-webpopup.exe"'
    -I. -Itools/scriptedhttp -isystem /usr/include/jsoncpp -isystem "$qt")
for module in "$qt"/Qt*/; do
    flags+=(-isystem "${module%/}")
done

# Units that CMake builds on the other systems only; each is named in the output, never skipped
# silently.
not_on_windows=(desktop/sessionbus.cpp)

mapfile -t units < <(find app session desktop net manager popup preview resources tools bench -name '*.cpp' | sort)
compiled=0 failed=0
for unit in "${units[@]}"; do
    if [[ " ${not_on_windows[*]} " == *" $unit "* ]]; then
        echo "windows-check: $unit is not built for Windows: left out"
    elif "$compiler" "${flags[@]}" "$unit"; then
        compiled=$((compiled + 1))
    else
        echo "windows-check: $unit does not compile for Windows" >&2
        failed=1
    fi
done
((failed == 0)) || exit 1
echo "windows-check: $compiled translation units compile for Windows"
