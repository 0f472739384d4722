#!/usr/bin/env bash
# Measures the real program against the stand-in service under Xvfb, side by side with the floor
# (a minimal Qt Widgets and Network program, bench/floor.cpp), and prints the median of RUNS starts
# (default 5) for each figure; the table also goes into bench/README.md.
# Usage: bench/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-5}
# Another build folder (VELTRO_BENCH_BUILD) measures an earlier program the same way.
build=${VELTRO_BENCH_BUILD:-build}

if [[ -z ${VELTRO_BENCH_INNER:-} ]]; then
    [[ $build != build ]] || tools/setup.sh build
    command -v /usr/bin/time >/dev/null && command -v dbus-run-session >/dev/null || {
        sudo=""; [[ $(id -u) -eq 0 ]] || sudo=sudo
        $sudo apt-get install -y -qq time dbus-bin dbus-daemon >/dev/null
    }
    exec env VELTRO_BENCH_INNER=1 xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$0" "$runs"
fi

source tools/standin.sh
work=$(mktemp -d)
scenario=$work/scenario.json
trap 'kill ${standin:-} ${active:-} 2>/dev/null || true; rm -rf "$work"' EXIT
export QTWEBENGINE_DISABLE_SANDBOX=1 # Chromium's sandbox refuses to run as root

routes() { # $1: the routes object; replaced in one step, the service re-reads it per request
    printf '{"routes": %s}\n' "$1" >"$scenario.new" && mv "$scenario.new" "$scenario"
}
message() { # $1 type, $2 id, $3 msgData text (already a JSON string literal)
    printf '{"ret":1,"body":{"type":"%s","id":"%s","msgData":%s}}' "$1" "$2" "$3"
}
# An active window that is not full screen, as a desktop has one: the busy check reads it through.
xmessage -geometry 400x300+100+100 "Lumaview" &
active=$!
xprop -root -f _NET_ACTIVE_WINDOW 32x -set _NET_ACTIVE_WINDOW \
    "$(xdotool search --sync --name xmessage | head -n 1)"
routes '{}'
start_standin "$build" "$scenario" "$work"

signed_in_home() { # a home of its own per start: a fresh budget, no shown message, signed in
    local home
    home=$(fresh_home "$work")
    mkdir -p "$home/Documents/Lumaview"
    printf '[usersession]\nuid=42\naccoutName=ann\n' >"$home/Documents/Lumaview/usersession.ini"
    echo "$home"
}
tree_rss_kib() { # resident memory of a process and all its descendants
    local pids=($1) total=0 pid rss
    local i=0
    while ((i < ${#pids[@]})); do
        pids+=($(cat /proc/"${pids[i]}"/task/*/children 2>/dev/null || true))
        ((i += 1))
    done
    for pid in "${pids[@]}"; do
        rss=$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status 2>/dev/null || true)
        ((total += ${rss:-0}))
    done
    echo $total
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ms_now() { echo $((${EPOCHREALTIME/./} / 1000)); }

timed() { # runs a command; prints "<CPU seconds, user+sys> <peak RSS KiB>"
    # GNU time counts CPU in hundredths; bash's own time counts milliseconds.
    local TIMEFORMAT="%3U %3S"
    { time /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1 || true; } 2>"$work/cpu"
    awk -v rss="$(cat "$work/rss")" '{printf "%.3f %d\n", $1 + $2, rss}' "$work/cpu"
}

cpu_while_waiting() {
    routes '{"/message/getMessage":{"delayMs":3000,"json":{"ret":0}}}'
    timed env $(home_env "$(signed_in_home)") $build/veltro | cut -d' ' -f1
}

budget_spent() { # the day's two message requests are made: nothing is asked, nothing shown
    routes '{}'
    local home
    home=$(signed_in_home)
    mkdir -p "$home/.config/Korvane"
    printf '[VeltroPara]\nDate=%s\nAvaTimes=0\n' "$(date +%F)" >"$home/.config/Korvane/Lumaview.conf"
    timed env $(home_env "$home") $build/veltro
}

second_copy() {
    routes '{"/message/getMessage":{"silent":true}}'
    local home
    home=$(signed_in_home)
    env $(home_env "$home") $build/veltro &
    local holder=$!
    # The guard is taken first thing, before the start-up wait.
    until [[ -e $home/run/veltro.lock ]]; do sleep 0.01; done
    sleep 0.2
    timed env $(home_env "$home") $build/veltro | cut -d' ' -f1
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
}

nothing_to_show() {
    routes '{"/message/getMessage":{"json":{"ret":0}},"/couponActivity/getTimingCoupon":{"json":{"code":"1"}}}'
    local start end
    start=$(ms_now)
    env $(home_env "$(signed_in_home)") $build/veltro
    end=$(ms_now)
    echo $((end - start - 2000))
}

# Shows a popup, samples the memory of the whole process tree until it is in place, closes it.
# Prints "<peak KiB> <ms from the envelope's arrival to the popup in place>".
popup_run() {
    routes "$1"
    local home log peak=0 rss window=""
    home=$(signed_in_home)
    log=$work/diagnostics.$RANDOM
    # Boot time stamps: the web page's lines come from the helper, a process of its own.
    QT_LOGGING_RULES="veltro.*=true" QT_MESSAGE_PATTERN="%{time boot} %{message}" \
        env $(home_env "$home") $build/veltro 2>"$log" &
    local veltro=$!
    while [[ -e /proc/$veltro ]] && ! grep -qs "popup in place" "$log"; do
        rss=$(tree_rss_kib $veltro)
        ((rss > peak)) && peak=$rss
        sleep 0.02
    done
    for _ in 1 2 3 4 5; do
        rss=$(tree_rss_kib $veltro)
        ((rss > peak)) && peak=$rss
        sleep 0.1
    done
    local helper
    helper=$(cat /proc/$veltro/task/$veltro/children 2>/dev/null || true)
    for pid in $veltro $helper; do
        window=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | head -1 || true)
        [[ -n $window ]] && break
    done
    if [[ -n $window ]]; then
        eval "$(xdotool getwindowgeometry --shell "$window")"
        xdotool mousemove --sync $((X + WIDTH - 15)) $((Y + 15)) click 1
    fi
    wait $veltro || true
    local arrived placed
    arrived=$(awk '/message answer arrived/ {print $1; exit}' "$log")
    placed=$(awk '/popup in place/ {print $1; exit}' "$log")
    echo "$peak $(awk -v a="${arrived:-0}" -v p="${placed:-0}" 'BEGIN {printf "%d", (p - a) * 1000}')"
}

plain=$(message 1 17 '"{\"title\":\"新版本已发布\",\"brief\":\"Lumaview 2027\",\"jmpUrl\":\"http://127.0.0.1:18080/news\"}"')
web=$(message 2 18 '"{\"title\":\"t\",\"brief\":\"b\",\"contentUrl\":\"http://127.0.0.1:18080/page.html\"}"')
type1_routes="{\"/message/getMessage\":{\"json\":$plain}}"
type2_routes="{\"/message/getMessage\":{\"json\":$web},\"/page.html\":{\"headers\":{\"Content-Type\":\"text/html\"},\"body\":\"<html><body><h3>Lumaview 2027</h3><p>Faster drawings.</p></body></html>\"}}"
coupon_routes='{"/message/getMessage":{"json":{"ret":0}},"/couponActivity/getTimingCoupon":{"json":{"code":"0","coupon":{"id":"c-1","couponName":"n","couponMoney":"50","thresholdMoney":"300","endDate":"2017-05-31 23:59:59"},"vipEndDate":"2017-05-04 00:00:00","stime":"2017-05-01 10:00:00"}}}'

# The vendor's preview, drawing at four DPIs: wall time of the whole run.
preview_run() { # $1: the routes, $2: the envelope
    routes "$1"
    printf '%s' "$2" >"$work/envelope.json"
    local start
    start=$(ms_now)
    $build/veltro-preview "$work/envelope.json" --out "$work/pictures" >/dev/null 2>&1 ||
        echo "bench: the preview found nothing to show" >&2
    echo $(($(ms_now) - start))
}

declare -A samples
add() { samples[$1]+="$2 "; }
for ((run = 1; run <= runs; run++)); do
    echo "run $run of $runs..." >&2
    # Through env, as veltro is started, so that both pay for the same exec.
    read -r cpu rss <<<"$(timed env $build/bench/veltro-floor)"
    add floor_cpu "$cpu"; add floor_rss "$rss"
    read -r cpu _ <<<"$(timed env $build/bench/veltro-floor --return)"
    add load_cpu "$cpu"
    read -r cpu rss <<<"$(budget_spent)"
    add spent_cpu "$cpu"; add spent_rss "$rss"
    add second "$(second_copy)"
    add cpu "$(cpu_while_waiting)"
    add nothing "$(nothing_to_show)"
    read -r peak placed <<<"$(popup_run "$type1_routes")"
    add placed1 "$placed"; add rss1 "$peak"
    read -r peak placed <<<"$(popup_run "$type2_routes")"
    add placed2 "$placed"; add rss2 "$peak"
    read -r peak _ <<<"$(popup_run "$coupon_routes")"
    add rss3 "$peak"
    add preview1 "$(preview_run "$type1_routes" "$plain")"
    add preview2 "$(preview_run "$type2_routes" "$web")"
    read -r ms _ <<<"$(env -u DBUS_SESSION_BUS_ADDRESS $build/bench/veltro-busycheck)"
    add busy_x "$ms"
    # A session bus of its own, on which no screen saver answers.
    read -r ms _ <<<"$(dbus-run-session -- $build/bench/veltro-busycheck 2>/dev/null)"
    add busy_bus "$ms"
done

figure() { tr ' ' '\n' <<<"${samples[$1]}" | grep -v '^$' | median; }
mib() { figure "$1" | awk '{printf "%.1f", $1 / 1024}'; }
ms() { figure "$1" | awk '{printf "%d", $1 * 1000}'; }
ratio() { awk -v a="$(figure "$1")" -v b="$(figure "$2")" 'BEGIN {printf "%.2f", a / b}'; }
table=$(
    printf '| figure | veltro | floor | ratio | target |\n|---|---|---|---|---|\n'
    printf '| budget spent: peak RSS | %s MiB | %s MiB | %s | ≤ 1.3 |\n' "$(mib spent_rss)" "$(mib floor_rss)" "$(ratio spent_rss floor_rss)"
    printf '| budget spent: CPU (user+sys) | %s ms | %s ms | %s | ≤ 1.5 |\n' "$(ms spent_cpu)" "$(ms floor_cpu)" "$(ratio spent_cpu floor_cpu)"
    printf '| type-1 popup: peak RSS, all processes | %s MiB | %s MiB | %s | ≤ 1.5 |\n' "$(mib rss1)" "$(mib floor_rss)" "$(ratio rss1 floor_rss)"
    printf '| coupon popup: peak RSS, all processes | %s MiB | %s MiB | %s | ≤ 1.5 |\n' "$(mib rss3)" "$(mib floor_rss)" "$(ratio rss3 floor_rss)"
    printf '| a second copy: CPU, against loading Qt | %s ms | %s ms | %s | ≤ 1.2 |\n' "$(ms second)" "$(ms load_cpu)" "$(ratio second load_cpu)"
    printf '| type-2 popup: peak RSS, all processes | %s MiB | | | |\n' "$(mib rss2)"
    printf '| type-2 popup: envelope arrived to popup in place | %s ms | | | |\n' "$(figure placed2)"
    printf '| type-1 popup: envelope arrived to popup in place (200 ms slide-in included) | %s ms | | | < 260 ms |\n' "$(figure placed1)"
    printf '| CPU while waiting 3 s for an answer (user+sys) | %s s | | | < 0.15 s |\n' "$(figure cpu)"
    printf '| nothing to show, less the 2000 ms start-up wait | %s ms | | | < 150 ms |\n' "$(figure nothing)"
    printf '| preview of a plain message at 96, 120, 144 and 168 DPI, contact sheet included | %s ms | | | < 1000 ms |\n' "$(figure preview1)"
    printf '| preview of a web page at 96, 120, 144 and 168 DPI, contact sheet included | %s ms | | | < 5000 ms |\n' "$(figure preview2)"
    printf '| busy check at the start: X11, no session bus | %s ms | | | ≤ 5 ms |\n' "$(figure busy_x)"
    printf '| busy check at the start: X11 and a session bus | %s ms | | | ≤ 5 ms |\n' "$(figure busy_bus)"
)
printf '\nMedian of %d runs:\n\n%s\n' "$runs" "$table"
# The table replaces the one in bench/README.md, under a line that says where it was taken.
{
    printf '%s, commit %s, %s, %d runs, Xvfb 1280 × 800 at 96 DPI, Qt %s.\n\n' "$(date +%F)" \
        "$(git -C "$root" rev-parse --short HEAD)" "$(lscpu | awk -F': +' '/Model name/ {print $2; exit}')" \
        "$runs" "$(qtpaths6 --qt-version 2>/dev/null || echo 6)"
    printf '%s\n' "$table"
} >"$work/figures"
awk -v figures="$work/figures" '
    /<!-- figures -->/ {print; while ((getline line < figures) > 0) print line; skip = 1; next}
    /<!-- \/figures -->/ {skip = 0}
    !skip' "$root/bench/README.md" >"$work/readme" && cp "$work/readme" "$root/bench/README.md"
