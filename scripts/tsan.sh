#!/usr/bin/env bash
# The suite under ThreadSanitizer (the worker thread and the main thread).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan -j "$(nproc)"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
(cd build-tsan && ctest --output-on-failure -j "$(nproc)" "$@")
