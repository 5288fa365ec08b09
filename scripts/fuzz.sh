#!/usr/bin/env bash
# Fuzzes the I2C script language with libFuzzer for a bounded time and grows
# the corpus in tests/fuzz/corpus. Usage: scripts/fuzz.sh [seconds]
#
# A crash or a timeout is a finding, not the end of the run: its input is kept
# in build-fuzz/findings/ (emptied at the start of each run), fuzzing goes on
# for the rest of the time, the new inputs are merged into the corpus, and the
# script then names every finding and ends with exit code 1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang-14 libclang-rt-14-dev
seconds=${1:-120}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPANEL_LIBFUZZER=ON >/dev/null
cmake --build build-fuzz --target fuzz_i2cscript
fuzzer=build-fuzz/tests/fuzz_i2cscript
corpus=build-fuzz/corpus
findings=build-fuzz/findings
rm -rf "$findings"
mkdir -p "$corpus" "$findings"
export ASAN_OPTIONS="detect_leaks=0"  # Qt's one-time allocations are not leaks

count_findings() { find "$findings" -maxdepth 1 -type f | wc -l; }

deadline=$((SECONDS + seconds))
stamp=$findings.stamp
while [ "$SECONDS" -lt "$deadline" ]; do
    touch "$stamp"
    rc=0
    "$fuzzer" "$corpus" tests/fuzz/corpus -max_total_time=$((deadline - SECONDS)) -max_len=4096 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" || rc=$?
    [ "$rc" -eq 0 ] && break
    # A finding found again keeps its name, so what counts is whether this
    # run wrote one at all, not whether the folder holds more.
    if [ -z "$(find "$findings" -maxdepth 1 -type f -newer "$stamp")" ]; then
        # Stopped without an input to show for it: once more would end the same way.
        echo "fuzz.sh: the fuzzer ended with exit code $rc and wrote no finding; stopping" >&2
        break
    fi
    # An input of the working corpus that now hangs would stop every later run at once.
    for artifact in "$findings"/*; do
        rm -f "$corpus/${artifact##*-}"
    done
    echo "fuzz.sh: finding recorded (exit code $rc); fuzzing on for $((deadline - SECONDS)) s" >&2
done

# Keep a minimised set of new inputs beside the seeds.
if ! "$fuzzer" -merge=1 -timeout=10 tests/fuzz/corpus "$corpus" >"$findings.merge.log" 2>&1; then
    echo "fuzz.sh: merging the corpus failed, see $findings.merge.log" >&2
    exit 1
fi

if [ "$(count_findings)" -gt 0 ]; then
    echo "fuzz.sh: findings (replay one with $fuzzer FILE):"
    find "$findings" -maxdepth 1 -type f | sort | sed 's/^/  /'
    exit 1
fi
echo "fuzz.sh: no findings"
