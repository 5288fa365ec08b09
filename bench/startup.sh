#!/usr/bin/env bash
# The window's cold start, as `screenshots --measure` reports it, over several
# processes: each run starts with an empty cache folder, so nothing compiled
# by an earlier run helps it. Prints every run, the medians and the load
# average before and after (the figures mean little on a busy machine).
#   bench/startup.sh [build folder] [runs]      (defaults: build, 9)
set -euo pipefail
build=${1:-build}
runs=${2:-9}
tool="$build/tools/screenshots/screenshots"
[[ -x "$tool" ]] || { echo "no $tool: build the project first" >&2; exit 1; }

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
frames=()
memory=()
for ((i = 1; i <= runs; ++i)); do
    cache=$(mktemp -d)
    out=$(XDG_CACHE_HOME="$cache" QT_QPA_PLATFORM=offscreen "$tool" --measure 2>/dev/null)
    rm -rf "$cache"
    frame=$(sed -n 's/^first frame: \([0-9]*\) ms.*/\1/p' <<<"$out")
    rss=$(sed -n 's/^resident memory: \([0-9.]*\) MiB at the first frame.*/\1/p' <<<"$out")
    echo "run $i: first frame $frame ms, resident $rss MiB"
    frames+=("$frame")
    memory+=("$rss")
done
echo "median: first frame $(printf '%s\n' "${frames[@]}" | median) ms," \
     "resident $(printf '%s\n' "${memory[@]}" | median) MiB at the first frame ($runs runs)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
