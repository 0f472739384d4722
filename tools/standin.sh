# Sourced by the demo and the benchmark: the stand-in service on the port the program is built for
# (tools/setup.sh), and homes of their own, so that no start reads or spends the real user's budget.

# start_standin BUILD SCENARIO FOLDER: starts BUILD's stand-in service answering as the scenario
# file says, its requests logged to FOLDER/requests.log; $standin is its process id.
start_standin() {
    "$1/tools/standin/veltro-standin" --port 18080 --scenario "$2" --log "$3/requests.log" \
        >"$3/standin.out" &
    standin=$!
    for _ in $(seq 50); do grep -q listening "$3/standin.out" && break; sleep 0.1; done
    grep -q listening "$3/standin.out" ||
        { echo "The stand-in service did not start (port 18080 taken?)" >&2; return 1; }
}

# fresh_home [FOLDER]: makes an empty home, inside FOLDER if given, and prints its path.
fresh_home() {
    local home
    home=$(mktemp -d ${1:+-p "$1"})
    mkdir -p "$home/run" && chmod 700 "$home/run"
    echo "$home"
}

# home_env HOME: the variables that point a start of the program at that home.
home_env() {
    echo "HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_RUNTIME_DIR=$1/run"
}
