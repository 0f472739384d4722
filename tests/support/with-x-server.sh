#!/usr/bin/env bash
# Runs a command under a virtual X server of its own. Xvfb picks a free display number itself and
# holds it from the start (-displayfd), so tests started together never race for one the way
# `xvfb-run -a` does. It never resets (-noreset): a reset after the last client leaves refuses the
# next program that starts meanwhile.
# Usage: with-x-server.sh <Xvfb arguments...> -- <command...>
set -euo pipefail
arguments=()
while [[ $1 != -- ]]; do
    arguments+=("$1")
    shift
done
shift
folder=$(mktemp -d)
Xvfb -displayfd 3 -nolisten tcp -noreset "${arguments[@]}" 3>"$folder/display" 2>"$folder/log" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$folder"' EXIT
# The number arrives once the server takes connections.
for _ in $(seq 100); do
    [[ -s $folder/display ]] && break
    sleep 0.1
done
if [[ ! -s $folder/display ]]; then
    echo "Xvfb did not start:" >&2
    cat "$folder/log" >&2
    exit 1
fi
DISPLAY=:$(head -n 1 "$folder/display") "$@"
