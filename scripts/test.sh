#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite twice: once
# in a plain build that must compile without warnings, once under
# AddressSanitizer + UndefinedBehaviorSanitizer. Exits non-zero on any failure.
# PANEL_TEST_SANITIZE=0 skips the sanitizer pass for a quick local run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== release build, installation and Debian package"
scripts/package.sh

if [[ "${PANEL_TEST_SANITIZE:-1}" != 0 ]]; then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANEL_WERROR=ON \
        -DPANEL_SANITIZE_ADDRESS=ON >/dev/null
    cmake --build build-asan -j "$jobs"
    export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
    (cd build-asan && ctest --output-on-failure -j "$jobs")
fi
