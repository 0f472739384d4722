#!/usr/bin/env bash
# The program's main job, end to end: the stand-in service offers a message, veltro fetches it,
# spends a unit of the day's budget and shows the popup. Without a display it runs under Xvfb,
# saves a screenshot of the popup and closes it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ -z ${VELTRO_DEMO_INNER:-} ]]; then
    tools/setup.sh build
    if [[ -z ${DISPLAY:-} ]]; then
        exec env VELTRO_DEMO_INNER=headless xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$0"
    fi
    export VELTRO_DEMO_INNER=display
fi

# A home of its own, so the demo neither reads nor spends the real user's budget.
home=$(mktemp -d)
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
store=$XDG_CONFIG_HOME/Korvane/Lumaview.conf

build/tools/standin/veltro-standin --port 18080 \
    --scenario tools/standin/scenarios/demo.json --log "$home/requests.log" >"$home/standin.out" &
standin=$!
trap 'kill $standin 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q listening "$home/standin.out" && break; sleep 0.1; done
grep -q listening "$home/standin.out" || { echo "The stand-in service did not start (port 18080 taken?)"; exit 1; }

echo "Store before: $(cat "$store" 2>/dev/null || echo '(empty)')"
echo "Starting veltro (it waits two seconds, then asks the stand-in service)..."
if [[ $VELTRO_DEMO_INNER == display ]]; then
    build/veltro
else
    build/veltro &
    veltro=$!
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$veltro" 2>/dev/null | head -1 || true)
        [[ -n $window ]] && break
        sleep 0.1
    done
    [[ -n $window ]] || { echo "No popup appeared"; kill $veltro; exit 1; }
    sleep 1 # the slide-in takes 200 ms
    shot=$root/build/demo-popup.png
    import -window root "$shot"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    echo "Popup at ${X},${Y}, ${WIDTH}x${HEIGHT} on a 1280x800 screen."
    echo "Screenshot: $shot"
    # The close button sits at the right end of the title bar.
    xdotool mousemove --sync $((X + WIDTH - 15)) $((Y + 15)) click 1
    wait $veltro && echo "veltro closed with exit code 0"
fi
echo "Requests the service saw: $(cat "$home/requests.log")"
echo "Store after:"
cat "$store"
