#!/usr/bin/env bash
# Builds the program with its tests (warnings are errors) and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh build -DVELTRO_WERROR=ON
ctest --test-dir build --output-on-failure -j2
