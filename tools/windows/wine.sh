#!/usr/bin/env bash
# Runs a program built for Windows under Wine, with the DLLs of the cross-built Qt and JsonCpp and
# of the MinGW runtime on Wine's path; CMake runs the build's tools and tests through it. A prefix
# that does not exist yet is made first, with a home of its own: Wine links the prefix's Documents
# to the home's, and no test may write into the real user's.
# Usage: tools/windows/wine.sh PREFIX CACHE PROGRAM [ARGUMENTS...]   (CACHE: see windows-build.sh)
set -euo pipefail
prefix=$1 cache=$2
shift 2
folders=("$cache/qt/bin" "$cache/jsoncpp/bin")
for dll in libstdc++-6.dll libwinpthread-1.dll; do
    folders+=("$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")")
done
# Wine's own Mono and Gecko are not needed and cannot be downloaded here.
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH=$(printf 'Z:%s;' "${folders[@]}" | tr / '\\')
if [[ ! -f $prefix/system.reg ]]; then
    mkdir -p "$prefix-home"
    HOME=$prefix-home wineboot -i
    wineserver -w
fi
# Wine hands a program none of the host's QT_* variables, which are meant for the host's Qt; it hands
# on WINEQT_* ones without their WINE.
for name in ${!QT_*}; do
    export "WINE$name=${!name}"
done
# A Chinese Windows, whose system code page is 936, as Lumaview's users have. Wine reads the
# locale's name alone: the host needs no such locale.
exec env LC_ALL=zh_CN.UTF-8 wine "$@"
