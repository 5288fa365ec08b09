#!/usr/bin/env bash
# panelapp starts under the offscreen platform, stays up, and ends with exit
# code 0 when asked to terminate.
set -u
app=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache
export QT_QPA_PLATFORM=offscreen
"$app" >"$tmp/out" 2>&1 &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"; echo "panelapp exited early with code $?"; cat "$tmp/out"; exit 1
fi
kill -TERM "$pid"
wait "$pid"
rc=$?
cat "$tmp/out"
[ "$rc" -eq 0 ] || { echo "panelapp exit code $rc"; exit 1; }
[ -f "$XDG_CONFIG_HOME/orvane/BVR60600.conf" ] || { echo "settings store was not written"; exit 1; }
echo "panelapp started and quit cleanly"
