#!/usr/bin/env bash
# Fuzzes the I2C script language with libFuzzer for a bounded time and grows
# the corpus in tests/fuzz/corpus. Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang-14 libclang-rt-14-dev
seconds=${1:-120}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPANEL_LIBFUZZER=ON >/dev/null
cmake --build build-fuzz --target fuzz_i2cscript
mkdir -p build-fuzz/corpus
export ASAN_OPTIONS="detect_leaks=0"  # Qt's one-time allocations are not leaks
build-fuzz/tests/fuzz_i2cscript build-fuzz/corpus tests/fuzz/corpus \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1
# Keep a minimised set of new inputs beside the seeds.
build-fuzz/tests/fuzz_i2cscript -merge=1 tests/fuzz/corpus build-fuzz/corpus >/dev/null 2>&1 || true
