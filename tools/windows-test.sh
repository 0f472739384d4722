#!/usr/bin/env bash
# CI: the Windows build's tests under Wine, then its install tree in a fresh Wine prefix with nothing
# on Wine's path, on a Chinese Windows (code page 936) whose desktop has a task bar, against the
# stand-in service: of two starts at once one runs; its popup sits above the task bar; after it is
# killed a new start runs, reads the GBK session file from Documents, and a press on its popup
# opens the signed-in page through the stand-in browser; a third start asks for no message; the
# store is in the registry.
# Usage: tools/windows-test.sh [windows-build] [linux-build]   (after tools/windows-build.sh and
# tools/test.sh, whose stand-in service it starts)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-windows}")
linux=$(realpath -m "${2:-build}")
if [[ -z ${VELTRO_CHECK_INNER:-} ]]; then
    ctest --test-dir "$build" --output-on-failure -j2
    exec env VELTRO_CHECK_INNER=1 bash tests/support/with-x-server.sh -screen 0 1280x800x24 \
        -dpi 96 -- flock /tmp/veltro-port.lock "$0" "$build" "$linux"
fi

work=$(mktemp -d)
fail() {
    echo "windows test: $*" >&2
    tail -n 30 "$work"/*.log >&2
    exit 1
}
trap 'kill ${standin:-} 2>/dev/null || true; WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/veltro" >/dev/null
# A desktop named "shell" is one with a task bar. Wine passes WINEQT_* on as QT_*.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=$work/home PATH=$root/tests/support/browser:$PATH
export WINEQT_LOGGING_RULES="veltro.*=true" WINEQT_FORCE_STDERR_LOGGING=1
mkdir -p "$HOME"
# Chinese Windows: code page 936. Wine reads the locale's name alone; the host needs no such locale.
wine() { env LC_ALL=zh_CN.UTF-8 wine "$@"; }
wineboot -i >/dev/null 2>&1 && wineserver -w
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1280x800 /f >/dev/null
documents=$(realpath "$WINEPREFIX/drive_c/users/$(id -un)/Documents")
mkdir -p "$documents/Lumaview"
# The user name 嘰 in GBK: its second byte is a backslash.
printf '[usersession]\r\nuid=42\r\naccoutName=\x87\x5c\r\n' >"$documents/Lumaview/usersession.ini"
cat >"$work/scenario.json" <<'END'
{"routes": {"/user/getTempSession": {"json": {"code": "0", "tempSession": "w-1"}},
    "/message/getMessage": {"json": {"ret": 1, "body": {"type": "2", "id": "7", "msgData":
        "{\"title\":\"新版本\",\"brief\":\"Lumaview 2027\",\"contentUrl\":\"http://127.0.0.1:18080/user/index\"}"}}}}}
END
source tools/standin.sh
start_standin "$linux" "$work/scenario.json" "$work"

declare -A logs
start() {
    wine "$work/veltro/veltro.exe" 2>"$work/$1.log" &
    logs[$!]=$work/$1.log
}
# settle PID: waits for the start's popup to be in place.
settle() {
    for _ in $(seq 600); do
        grep -q "popup in place" "${logs[$1]}" && return
        kill -0 "$1" 2>/dev/null || fail "a start ended before its popup"
        sleep 0.1
    done
    fail "no popup within 60 s"
}

start a
start b
wait -n -p ended "${!logs[@]}" || fail "the second of two starts ended with exit code $?"
first=$(printf '%s\n' "${!logs[@]}" | grep -vx "$ended")
settle "$first"
read -r x y w h ax ay aw ah <<<"$(grep -o 'QRect([^)]*)' "${logs[$first]}" | tr -c '0-9' ' ')"
echo "windows test: popup at $x,$y, ${w}x$h, in the work area $ax,$ay, ${aw}x$ah"
((ah < 800)) || fail "the work area leaves no room for the task bar"
((x + w == ax + aw && y + h == ay + ah)) || fail "the popup is not in the work area's corner"
# The Windows process is a Unix process of its own, beside the wine that started it.
kill -9 "$(pgrep -f "^$work/veltro/veltro.exe")"
wait "$first" || true

# The next message, for the next start, which the killed one must not keep out.
sed -i 's/"id": "7"/"id": "8"/' "$work/scenario.json"
start c
last=$!
settle "$last"
xdotool mousemove --sync $((x + 150)) $((y + 95)) click 1
wait "$last" || fail "the start ended with exit code $? after the press"
# Wine's shell hands the address on to the host's browser after the program has ended.
timeout 30 bash -c 'until grep -qsF "$0" "$1"; do sleep 0.1; done' \
    "http://127.0.0.1:18080/user/skip?tempSession=w-1&skipUrl=/user/index" "$HOME/browser.log" ||
    fail "the browser was not handed the signed-in page"
grep -qF "userName=%E5%98%B0&userId=42" "$work/requests.log" || fail "the user's name was misread"
# The day's two messages are spent: a third start asks for none.
wine "$work/veltro/veltro.exe" 2>"$work/third.log" || fail "the third start ended with exit code $?"
(($(grep -c /message/getMessage "$work/requests.log") == 2)) || fail "not one request per run"
store=$(wine reg query 'HKCU\Software\Korvane\Lumaview\VeltroPara' | tr -d '\r' | tr -s ' ')
echo "windows test: the store:$store"
for value in "AvaTimes REG_DWORD 0x0" "LastId REG_DWORD 0x8" "Date REG_SZ $(date +%F)" \
    "CouponId REG_SZ"; do
    grep -q "^ $value *$" <<<"$store" || fail "no $value in the registry"
done
echo "windows test: the installed veltro.exe ran once of two, above the task bar, and after a kill"
