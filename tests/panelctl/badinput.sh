#!/usr/bin/env bash
# panelctl fed bad input, as a caller outside the process sees it: every case
# ends with the documented exit code and one short, plain error line on
# stderr; with --json, stdout is one JSON object with "ok": false. No case
# may hang or take long, and none may touch the window's preferences.
#
#   badinput.sh <path to panelctl>
#
# Exits non-zero and prints one line per failed check.
set -u
ctl=$1
# Bash's clock text, read below, must have a decimal point.
export LC_NUMERIC=C
command -v python3 >/dev/null || { echo "FAIL: python3 is not installed"; exit 1; }

tmp=$(mktemp -d)
server_pid=
stop_server() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -KILL "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    server_pid=
}
trap 'stop_server; rm -rf "$tmp"' EXIT
# A timeout's SIGTERM must still run the EXIT trap.
trap 'exit 1' TERM INT

# Never the user's settings or data, and no vendor adapter library: without
# hardware a missing chip is then always a missing adapter.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share \
       XDG_CACHE_HOME=$tmp/home/.cache
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
export PANEL_FT4222_LIBRARY=$tmp/none.so PANEL_D2XX_LIBRARY=$tmp/none.so PANEL_SUB20_LIBRARY=$tmp/none.so
unset QT_LOGGING_RULES

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A case still running after this long has hung: it is killed and fails.
# (Generous: sanitizer builds run side by side with other tests.)
hard_limit=60
# How soon a signal or --timeout must end a script that would run a minute.
prompt_limit_ms=20000

# The window's preferences, which panelctl must neither read into its own
# nor write: every case compares the whole configuration folder to this.
mkdir -p "$XDG_CONFIG_HOME/orvane"
printf '[General]\napiServiceEnabled=true\napiServicePort=8888\nlastProject=%s\nopenLastProject=true\ni2cSpeed=400\n' \
    "$tmp/files/good.cfg" >"$XDG_CONFIG_HOME/orvane/BVR60600.conf"
config_snapshot() {
    (cd "$XDG_CONFIG_HOME" && find . -print0 | sort -z | xargs -0 stat -c '%n %s %Y' && find . -type f -print0 | sort -z | xargs -0 md5sum)
}
config_before=$(config_snapshot)
check_config() {
    local now
    now=$(config_snapshot)
    if [ "$now" != "$config_before" ]; then
        fail "$1: the configuration folder changed: $(diff <(echo "$config_before") <(echo "$now") | tr '\n' ' ')"
        config_before=$now
    fi
}

# ---- input files
files=$tmp/files
mkdir -p "$files/folder"
mkfifo "$files/fifo"
head -c 4096 /dev/urandom >"$files/garbage.bin"
# Large enough that anything slower than linear in its lines shows.
head -c 10000000 /dev/urandom >"$files/garbage10m.bin"
head -c 20000000 /dev/zero | tr '\0' '#' >"$files/big20m.txt"
printf 'read_register 0x01 1\r\nwrite_register 0x01 0x40\r\n' >"$files/crlf.i2c"
printf 'read_register 0x01 1\nread_\0register 0x01 1\n' >"$files/nul.i2c"
printf 'read_register 0x01 1\n\033[31mred\n' >"$files/escape.i2c"
# The simulated chip has no register 0x10.
printf 'read_register 0x10 1\nread_register 0x01 1\n' >"$files/busfail.i2c"
printf 'read_register 0x01 1\n' >"$files/ok.i2c"
printf 'write_bulk 00 01 aa 4294967295\n' >"$files/hugedelay.i2c"
head -c 1000000 /dev/zero | tr '\0' a >"$files/longline.i2c"
: >"$files/empty.cfg"
printf 'just garbage\n=\n[[[\n' >"$files/garbage.cfg"
printf '[_0x70_bvr60600]\nvoutControl=64\nautoPwm=false\nforcedPwm=true\npassThrough=false\n' >"$files/good.cfg"
printf '[_0x70_bvr60600]\nvoutControl=64\n[_0x71_bvr60600]\nvoutControl=65\n' >"$files/two.cfg"
# Every section skipped, each for a reason the error line must name; the file
# names do not give the reasons away.
printf '[notadat]\nx=1\n' >"$files/skipped1.cfg"
printf '[_0x70_nochip]\nvoutControl=64\n' >"$files/skipped2.cfg"
printf '[_0x700_bvr60600]\nvoutControl=64\n' >"$files/skipped3.cfg"
printf '[_0x70_bvr60600]\nvoutControl=5\n' >"$files/reserved.cfg"
printf '[_0x70_bvr60600]\nforcedPwm=sometimes\n' >"$files/badvalue1.cfg"
printf '[_0x70_bvr60600]\nvoutControl=notanumber\n' >"$files/badvalue2.cfg"
printf '[_0x70_bvr60600]\nvoutControl=99999999999\n' >"$files/badvalue3.cfg"
# Used by the table's rows, through eval.
# shellcheck disable=SC2034
long=$(head -c 5000 /dev/zero | tr '\0' b)

# ---- the table
# args | allowed exit codes (comma-separated) | text the stderr line must contain
# (alternatives separated by "|"). Args are shell words; $files, $tmp and
# $long expand. An exit code of 0, where allowed, needs an empty stderr.
cases=$(cat <<'EOF'
 | 2 | No command given
'' | 2 | No command given
bogus | 2 | Unknown command "bogus"
bogus --help | 2 | Unknown command "bogus"
help bogus | 2 | Unknown command "bogus"
"$long" | 2 | Unknown command
$'bo\033[31mgus' | 2 | Unknown command
--bogus read | 2 | Unknown option 'bogus'
-x read | 2 | Unknown option 'x'
--simulate read --vout 3 | 2 | Unknown option 'vout'
--simulate registers --port 1 | 2 | Unknown option 'port'
--simulate read --section x | 2 | Unknown option 'section'
--simulate set --vout | 2 | Missing value after '--vout'
--simulate read --dat | 2 | Missing value after '--dat'
--simulate=yes read | 2 | Unexpected value after '--simulate'
--simulate read extra | 2 | Usage: panelctl read
--simulate run | 2 | Usage: panelctl run
--simulate run a b | 2 | Usage: panelctl run
--simulate apply | 2 | Usage: panelctl apply
--dat '' read | 2 | is not a DAT
--dat : read | 2 | is not a DAT
--dat :0x70: read | 2 | is not a DAT|is not supported
--dat ::0x70:bvr60600 read | 2 | is not a DAT
--dat a:b:c:d read | 2 | is not a DAT
--dat :0x700:bvr60600 read | 2 | not a legal 7-bit address
--dat :0x01:bvr60600 read | 2 | not a legal 7-bit address
--dat :0x78:bvr60600 read | 2 | not a legal 7-bit address
--dat :zz:bvr60600 read | 2 | not a legal 7-bit address
--dat :-1:bvr60600 read | 2 | not a legal 7-bit address
--dat :0x70:nochip read | 2 | nochip is not supported
--dat ":0x70:$long" read | 2 | is not supported
--simulate --dat :0x70:nochip run $files/ok.i2c | 2 | nochip is not supported
--simulate --dat : scan | 2 | is not a DAT
--simulate --dat :0x70:BVR60600 read | 0,2 | DAT|BVR60600
--simulate --dat :0X70:bvr60600 read | 0,2 | DAT|0X70
read | 3 | No I2C adapter found|answers at 0x70
--simulate --speed 0 read | 2 | --speed wants
--simulate --speed -1 read | 2 | --speed wants
--simulate --speed 3401 read | 2 | --speed wants
--simulate --speed abc read | 2 | --speed wants
--simulate --speed '' read | 2 | --speed wants
--simulate --speed 1e3 read | 2 | --speed wants
--simulate --speed 99999999999999999999 read | 2 | --speed wants
--simulate --timeout 0 read | 2 | --timeout wants
--simulate --timeout -1 read | 2 | --timeout wants
--simulate --timeout 86401 read | 2 | --timeout wants
--simulate --timeout abc read | 2 | --timeout wants
--simulate --timeout '' read | 2 | --timeout wants
--simulate --timeout inf read | 2 | --timeout wants
--simulate --timeout nan read | 2 | --timeout wants
--simulate --timeout 0.0001 read | 2 | --timeout wants
--simulate --log '' read | 4 | Cannot write the communication log
--simulate --log $files/folder read | 4 | Cannot write the communication log
--simulate --log $files/nodir/x.log read | 4 | Cannot write the communication log
--simulate --log $files/good.cfg/x.log read | 4 | Cannot write the communication log
--simulate set | 2 | set needs --vout, --code or --mode
--simulate set --vout abc | 2 | --vout wants a voltage
--simulate set --vout '' | 2 | --vout wants a voltage
--simulate set --vout nan | 2 | outside the output range|--vout wants
--simulate set --vout inf | 2 | outside the output range|--vout wants
--simulate set --vout -3.3 | 2 | outside the output range
--simulate set --vout 1e400 | 2 | --vout wants a voltage
--simulate set --vout 3.31 | 2 | is not an output voltage of the chip
--simulate set --vout 3.3 --code 0x43 | 2 | exclude each other
--simulate set --code 128 | 2 | --code wants a number
--simulate set --code -1 | 2 | --code wants a number
--simulate set --code 0x | 2 | --code wants a number
--simulate set --code 1e2 | 2 | --code wants a number
--simulate set --code 0x7f | 2 | is reserved
--simulate set --mode weird | 2 | --mode is auto, forced or passthrough
--simulate set --mode '' | 2 | --mode is auto, forced or passthrough
--simulate registers --filter '(' | 2 | is not a regular expression
--simulate registers --filter '[' | 2 | is not a regular expression
--simulate registers --filter '*' | 2 | is not a regular expression
--simulate registers --fields zz | 2 | --fields wants a register address
--simulate registers --fields 0x100 | 2 | --fields wants a register address
--simulate registers --fields '' | 2 | --fields wants a register address
--simulate registers --fields 0x | 2 | --fields wants a register address
--simulate registers --fields -1 | 2 | --fields wants a register address
--simulate registers --fields 0x0x00 | 2 | --fields wants a register address
--simulate registers --fields 0x99 | 2 | No register at address 0x99
--simulate run $files/nosuch.i2c | 4 | no such file
--simulate run '' | 2,4 | Cannot read
--simulate run $files/folder | 4 | not a regular file
--simulate run /dev/null | 4 | not a regular file
--simulate run $files/fifo | 4 | not a regular file
--simulate run $files/big20m.txt | 4 | larger than
--simulate run $files/garbage.bin | 2 | is not a valid script
--simulate run $files/garbage10m.bin | 2 | is not a valid script
--simulate run $files/crlf.i2c | 0 | -
--simulate run $files/nul.i2c | 2 | Unrecognized command on line 2
--simulate run $files/escape.i2c | 2 | Unrecognized command on line 2
--simulate run $files/longline.i2c | 2 | Unrecognized command on line 1
--simulate run $files/busfail.i2c | 1 | 1 of 2 transfer lines failed
--simulate run $files/hugedelay.i2c | 2 | Invalid value on line 1
--simulate apply $files/nosuch.cfg | 4 | no such file
--simulate apply '' | 2,4 | Cannot read
--simulate apply $files/folder | 4 | not a regular file
--simulate apply $files/fifo | 4 | not a regular file
--simulate apply $files/big20m.txt | 4 | larger than
--simulate apply $files/garbage.bin | 2,4 | not a text file
--simulate apply $files/garbage.cfg | 2,4 | not in INI format
--simulate apply $files/empty.cfg | 2,4 | no device
--simulate apply $files/skipped1.cfg | 2,4 | notadat
--simulate apply $files/skipped2.cfg | 2,4 | nochip
--simulate apply $files/skipped3.cfg | 2,4 | 0x700
--simulate apply $files/two.cfg | 2 | choose one with --section
--simulate apply $files/two.cfg --section :0x72:bvr60600 | 2 | has no device :0x72:bvr60600
--simulate apply $files/two.cfg --section '' | 2 | has no device
--simulate apply $files/two.cfg --section | 2 | Missing value after '--section'
--simulate apply $files/reserved.cfg | 2 | is reserved
--simulate apply $files/badvalue1.cfg | 2 | sometimes
--simulate apply $files/badvalue2.cfg | 2 | notanumber
--simulate apply $files/badvalue3.cfg | 2 | 99999999999
--simulate serve --port -1 | 2 | --port wants
--simulate serve --port 65536 | 2 | --port wants
--simulate serve --port abc | 2 | --port wants
--simulate serve --port 1.5 | 2 | --port wants
EOF
)

# run_ctl <label> <args...>: panelctl with a time limit; sets rc, err, elapsed
# and leaves stdout in $tmp/out.
run_ctl() {
    local label=$1
    shift
    local start=$EPOCHREALTIME
    # (The braces keep bash's "Killed" notice of a hung case out of the report.)
    { timeout -k 2 "$hard_limit" "$ctl" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null; } 2>/dev/null
    rc=$?
    local end=$EPOCHREALTIME
    elapsed=$(( (${end/./} - ${start/./}) / 1000 ))
    err=$(cat "$tmp/err")
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
        fail "$label: did not end within $hard_limit s"
    fi
}

# check_outcome <label> <allowed codes> <wanted texts> <json?>
check_outcome() {
    local label=$1 allowed=$2 wanted=$3 json=$4
    if [[ ",$allowed," != *",$rc,"* ]]; then
        fail "$label: exit $rc, expected $allowed (stderr: ${err:0:300})"
        return
    fi
    if [ "$rc" = 0 ]; then
        [ -z "$err" ] || fail "$label: exit 0 with stderr: ${err:0:300}"
    else
        local lines
        lines=$(grep -c '' "$tmp/err")
        if [ "$lines" != 1 ]; then
            fail "$label: $lines stderr lines, expected one: ${err:0:300}"
        elif [[ "$err" != "panelctl: "* ]]; then
            fail "$label: the stderr line does not start with \"panelctl: \": ${err:0:300}"
        elif [ "${#err}" -gt 1000 ]; then
            fail "$label: the stderr line is ${#err} characters long: ${err:0:120}..."
        elif [[ "$err" == *[[:cntrl:]]* ]]; then
            fail "$label: the stderr line holds control characters: $(printf '%q' "${err:0:200}")"
        else
            local found=0 alternative
            local IFS='|'
            for alternative in $wanted; do
                [[ "$err" == *"$alternative"* ]] && found=1
            done
            [ "$found" = 1 ] || fail "$label: stderr lacks \"$wanted\": ${err:0:300}"
        fi
    fi
    if [ "$json" = 1 ]; then
        local want_ok=False
        [ "$rc" = 0 ] && want_ok=True
        local got
        got=$(python3 -c 'import json,sys; d=json.load(sys.stdin); print(d.get("ok") if isinstance(d, dict) else "not an object")' \
              <"$tmp/out" 2>&1 | tail -1)
        [ "$got" = "$want_ok" ] || fail "$label: --json stdout: ok is \"$got\", expected $want_ok: $(head -c 300 "$tmp/out")"
    fi
}

args=()
while IFS= read -r row; do
    [ -z "$row" ] && continue
    wanted=${row##* | }
    rest=${row% | *}
    allowed=${rest##* | }
    words=${rest% | *}
    [ "$words" = "$rest" ] && words=
    eval "args=($words)"
    label="panelctl ${words:0:80}"
    run_ctl "$label" "${args[@]}"
    check_outcome "$label" "$allowed" "$wanted" 0
    check_config "$label"
    run_ctl "$label (--json)" --json "${args[@]}"
    check_outcome "$label (--json)" "$allowed" "$wanted" 1
    check_config "$label (--json)"
done <<<"$cases"

# ---- standard input: the whole script, however it arrives
# 3000 lines of 32 bytes: more than one pipe buffer, cut on a line boundary.
for _ in $(seq 3000); do printf 'read_register 0x01 1           \n'; done >"$files/pad.i2c"
timeout -k 2 "$hard_limit" bash -c 'cat "$1" | "$2" --simulate run -' _ "$files/pad.i2c" "$ctl" >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" = 0 ] || fail "run - from a pipe: exit $rc ($(head -c 300 "$tmp/err"))"
grep -q '^script ok: 3000 transfer lines$' "$tmp/out" \
    || fail "run - from a pipe: not all 3000 lines ran: $(tail -1 "$tmp/out")"
timeout -k 2 "$hard_limit" bash -c 'head -c 17000000 /dev/zero | "$1" --simulate run -' _ "$ctl" >"$tmp/out" 2>"$tmp/err"
rc=$?
err=$(cat "$tmp/err")
check_outcome "run - with 17 MB from a pipe" 4 "larger than" 0
check_config "run -"

# ---- signals and the time limit of a long script
# wait_bounded <pid>: waits for a background panelctl and sets rc; one that
# is still running after hard_limit is killed (and fails its check).
wait_bounded() {
    local pid=$1
    for _ in $(seq $((hard_limit * 10))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    rc=$?
}
for _ in $(seq 60); do printf 'wait_ms 1000\nread_register 0x01 1\n'; done >"$files/long.i2c"
for sig in INT TERM; do
    for json in 0 1; do
        opts=(--simulate)
        [ "$json" = 1 ] && opts+=(--json)
        label="SIG$sig during panelctl ${opts[*]} run"
        # A background job of a script starts with SIGINT ignored.
        env --default-signal=INT "$ctl" "${opts[@]}" run "$files/long.i2c" >"$tmp/out" 2>"$tmp/err" &
        pid=$!
        sleep 1.5
        kill -"$sig" "$pid"
        start=$EPOCHREALTIME
        wait_bounded "$pid"
        elapsed=$(( (${EPOCHREALTIME/./} - ${start/./}) / 1000 ))
        [ "$elapsed" -le "$prompt_limit_ms" ] || fail "$label: ended $elapsed ms after the signal"
        err=$(cat "$tmp/err")
        check_outcome "$label" 130 "interrupted" "$json"
    done
done
# A write_bulk packet delay slept in the bus thread beyond the reach of the
# exit: SIGTERM printed "interrupted" and the process stayed. Signalled
# while the longest delay runs, it must end within a second.
printf 'read_register 0x01 1\nwrite_bulk 00 01 aa 65535\nread_register 0x01 1\n' >"$files/delay.i2c"
label="SIGTERM during a write_bulk packet delay"
"$ctl" --simulate run "$files/delay.i2c" >"$tmp/out" 2>"$tmp/err" &
pid=$!
# Line 1 done: the bulk line has started.
for _ in $(seq $((hard_limit * 10))); do
    grep -q '^line 1:' "$tmp/out" 2>/dev/null && break
    sleep 0.1
done
sleep 0.3
kill -TERM "$pid"
start=$EPOCHREALTIME
wait_bounded "$pid"
elapsed=$(( (${EPOCHREALTIME/./} - ${start/./}) / 1000 ))
[ "$elapsed" -le 1000 ] || fail "$label: ended $elapsed ms after the signal"
err=$(cat "$tmp/err")
check_outcome "$label" 130 "interrupted" 0
run_ctl "run --timeout 0.5 on a long script" --simulate --timeout 0.5 run "$files/long.i2c"
[ "$elapsed" -le "$prompt_limit_ms" ] || fail "run --timeout 0.5: ended after $elapsed ms"
check_outcome "run --timeout 0.5" 1 "did not complete within 500 ms" 0
check_config "signals"

# ---- serve: a busy port, and the signals that end it
# start_server <args...>: serves with --json and reads the port of the first line.
start_server() {
    env --default-signal=INT "$ctl" --simulate --json serve "$@" >"$tmp/server.out" 2>"$tmp/server.err" &
    server_pid=$!
    port=
    for _ in $(seq 100); do
        port=$(head -1 "$tmp/server.out" 2>/dev/null \
               | python3 -c 'import json,sys; print(json.load(sys.stdin)["port"])' 2>/dev/null)
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || fail "serve: no port reported: $(cat "$tmp/server.err")"
}
start_server --port 0
if [ -n "$port" ]; then
    run_ctl "serve on a busy port" --simulate serve --port "$port"
    check_outcome "serve on the busy port $port" 1 "Cannot listen on port $port" 0
    run_ctl "serve on a busy port (--json)" --json --simulate serve --port "$port"
    check_outcome "serve on the busy port $port (--json)" 1 "Cannot listen on port $port" 1
fi
stop_server
for sig in TERM INT; do
    start_server --port 0
    [ -n "$port" ] || continue
    kill -"$sig" "$server_pid"
    wait_bounded "$server_pid"
    server_pid=
    [ "$rc" = 0 ] || fail "serve ended by SIG$sig: exit $rc, expected 0 ($(cat "$tmp/server.err"))"
    [ -s "$tmp/server.err" ] && fail "serve ended by SIG$sig: stderr: $(head -c 300 "$tmp/server.err")"
    # The first line announced the port; the last object is the result.
    python3 -c 'import json,sys; lines=open(sys.argv[1]).read().split("\n",1); assert json.loads(lines[1])["ok"] is True' \
        "$tmp/server.out" 2>/dev/null || fail "serve ended by SIG$sig: no final JSON with ok true: $(cat "$tmp/server.out")"
done
check_config "serve"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all bad-input checks passed"
