#!/usr/bin/env bash
# Builds the program and its tests under AddressSanitizer and UndefinedBehaviorSanitizer (in
# build-asan) and runs the unit, widget and integration tests there. The end-to-end tests (label
# e2e) start the real program under Xvfb and run in the normal build only. The sanitizers'
# options and suppressions come with the tests (tests/CMakeLists.txt, tests/sanitizer/).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRO_SANITIZE=ON \
    -DVELTRO_WERROR=ON
ctest --test-dir build-asan -LE e2e --output-on-failure -j2
