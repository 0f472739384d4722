#!/usr/bin/env bash
# CI: installs the built program into a temporary prefix and runs the installed copy against the
# stand-in service under a virtual X server. With its helper and Qt's catalogue beside it, it must
# ask the service, spend a unit and show the popup, once for a web page (the helper shows it) and
# once for a message (it shows that itself); a click on the close button ends it.
# Usage: tools/install-check.sh [build-dir]   (tools/test.sh makes build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [[ -z ${VELTRO_CHECK_INNER:-} ]]; then
    # The stand-in takes the port the program was built for, which other runs share.
    # Its X server is its own; the desktop's session bus, whose screen saver may come on meanwhile,
    # is left out too.
    exec env -u DBUS_SESSION_BUS_ADDRESS VELTRO_CHECK_INNER=1 bash tests/support/with-x-server.sh -screen 0 1280x800x24 \
        -dpi 96 -- flock /tmp/veltro-port.lock "$0" "$build"
fi

fail() {
    echo "install check: $*" >&2
    sed 's/^/  veltro: /' "$work/veltro.log" >&2 2>/dev/null || true
    exit 1
}

source tools/standin.sh
work=$(mktemp -d)
trap 'kill ${standin:-} ${veltro:-} 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in veltro veltro-webpopup qt_zh_CN.qm qtbase_zh_CN.qm; do
    [[ -f $prefix/bin/$file ]] || fail "bin/$file is not installed"
done

# show SCENARIO ID: one start of the installed copy in a fresh home, up to its popup.
show() {
    home=$(fresh_home "$work")
    start_standin "$build" "$1" "$home"
    env $(home_env "$home") QT_LOGGING_RULES="veltro.*=true" "$prefix/bin/veltro" \
        2>"$work/veltro.log" &
    veltro=$!
    # It waits two seconds before it asks; the slide-in takes 200 ms.
    for _ in $(seq 300); do
        grep -q "popup in place" "$work/veltro.log" && break
        kill -0 "$veltro" 2>/dev/null || fail "ended before the popup of $1"
        sleep 0.1
    done
    grep -q "popup in place" "$work/veltro.log" || fail "no popup of $1 within 30 s"
    ! grep -q "catalogue is missing" "$work/veltro.log" || fail "a catalogue is missing"
    grep -q "/message/getMessage" "$home/requests.log" || fail "the service was not asked"
    grep -qx "LastId=$2" "$home/.config/Korvane/Lumaview.conf" || fail "message $2 not stored"
}

# The message's content travels as JSON text inside the envelope.
cat >"$work/page.json" <<'END'
{"routes": {
    "/message/getMessage": {"json": {"ret": 1, "body": {"type": "2", "id": "2002",
        "msgData": "{\"title\":\"t\",\"brief\":\"b\",\"contentUrl\":\"http://127.0.0.1:18080/page\"}"}}},
    "/page": {"headers": {"Content-Type": "text/html"}, "body": "<p>Lumaview 2027</p>"}}}
END
# Chromium's settings for a run as root without a GPU, as in the tests.
QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-first-run" \
    show "$work/page.json" 2002
kill "$veltro" "$standin"
wait "$veltro" "$standin" 2>/dev/null || true

show tools/standin/scenarios/demo.json 1001
window=$(xdotool search --onlyvisible --pid "$veltro" | head -1)
eval "$(xdotool getwindowgeometry --shell "$window")"
# The close button sits at the right end of the title bar.
xdotool mousemove --sync $((X + WIDTH - 15)) $((Y + 15)) click 1
for _ in $(seq 100); do
    kill -0 "$veltro" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$veltro" 2>/dev/null && fail "the close button did not end it"
wait "$veltro" || fail "it ended with exit code $?"
veltro=""
echo "install check: the installed veltro showed a web page and a message, and closed"
