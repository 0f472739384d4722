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

source tools/standin.sh
home=$(fresh_home)
export $(home_env "$home")
store=$XDG_CONFIG_HOME/Korvane/Lumaview.conf
trap 'kill ${standin:-} 2>/dev/null || true' EXIT
start_standin build tools/standin/scenarios/demo.json "$home"

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
