#!/usr/bin/env bash
# The pipes that process PROGRAM_PID shares with any process that a helper it started (at
# HELPER_PATH) has started in turn, one a line, leaving out the pipe that PROGRAM_PID's descriptor
# SKIP names. Then it ends the helper and says "ended".
# Usage: engine-pipes.sh PROGRAM_PID HELPER_PATH [SKIP]
set -u
descendants() {
    for child in $(cat /proc/"$1"/task/*/children); do
        echo "$child"
        descendants "$child"
    done
}
pipes() {
    for fd in /proc/"$1"/fd/*; do readlink "$fd"; done | grep '^pipe:' | sort -u
}
ours=$(pipes "$1" | grep -vFx "$(readlink "${3:-}")")
for helper in $(descendants "$1"); do
    [[ $(readlink /proc/"$helper"/exe) == "$2" ]] || continue
    for engine in $(descendants "$helper"); do pipes "$engine"; done | sort -u |
        grep -Fxf <(echo "$ours")
    kill "$helper" && echo ended
done
