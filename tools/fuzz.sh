#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz) and runs each for the given seconds
# (default 60) on a copy of its seed corpus in fuzz/corpus. Fails when a target crashes, leaks
# or hits undefined behaviour; the input that did it is kept in build-fuzz/findings/<target>/.
# Usage: tools/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
targets=(fuzz_envelope fuzz_content fuzz_coupon fuzz_tempsession)

CC=clang CXX=clang++ tools/setup.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELTRO_FUZZ=ON -DVELTRO_BUILD_TESTS=OFF -DVELTRO_WERROR=ON

# What a run adds to the corpus stays out of the repository.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export UBSAN_OPTIONS=print_stacktrace=1
failed=()
for target in "${targets[@]}"; do
    cp -r "fuzz/corpus/$target" "$work/$target"
    findings="$build/findings/$target"
    mkdir -p "$findings"
    echo "== $target: $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -dict=fuzz/veltro.dict -artifact_prefix="$findings/" "$work/$target"; then
        failed+=("$target")
    fi
done
if ((${#failed[@]})); then
    echo "fuzzing found faults in: ${failed[*]} (inputs in $build/findings)" >&2
    exit 1
fi
