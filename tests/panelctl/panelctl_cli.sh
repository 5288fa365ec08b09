#!/usr/bin/env bash
# panelctl as a separate process sees it: every command on the simulated
# chip, and on the fake FT4222 library where a real adapter's path matters.
#
#   panelctl_cli.sh <panelctl> <fake FT4222 library> <group>
#
# Groups: read_set, registers, run, apply, serve, hardware, settings. Exits
# non-zero and names every failed check.
set -u
ctl=$1
fake=$2
group=$3

tmp=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -KILL "$server_pid" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' TERM INT

# Never the user's settings or data.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share \
       XDG_CACHE_HOME=$tmp/home/.cache
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
unset PANEL_FT4222_LIBRARY PANEL_D2XX_LIBRARY PANEL_SUB20_LIBRARY

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run <args...>: runs panelctl, keeps stdout in $out, stderr in $err, the exit code in $rc.
run() {
    timeout 60 "$ctl" "$@" >"$tmp/out" 2>"$tmp/err"
    rc=$?
    out=$(cat "$tmp/out")
    err=$(cat "$tmp/err")
}

# expect <exit code> <text stdout must contain, or ""> <args...>
expect() {
    local want_rc=$1 want_out=$2
    shift 2
    run "$@"
    if [ "$rc" != "$want_rc" ]; then
        fail "panelctl $*: exit $rc, expected $want_rc (stderr: $err)"
    elif [ -n "$want_out" ] && [[ "$out" != *"$want_out"* ]]; then
        fail "panelctl $*: stdout lacks \"$want_out\": $out"
    fi
}

# expect_error <exit code> <text of the one stderr line> <args...>
expect_error() {
    local want_rc=$1 want_err=$2
    shift 2
    run "$@"
    local lines
    lines=$(printf '%s' "$err" | grep -c '')
    if [ "$rc" != "$want_rc" ]; then
        fail "panelctl $*: exit $rc, expected $want_rc (stderr: $err)"
    elif [ "$lines" != 1 ]; then
        fail "panelctl $*: $lines stderr lines, expected one: $err"
    elif [[ "$err" != *"$want_err"* ]]; then
        fail "panelctl $*: stderr lacks \"$want_err\": $err"
    fi
}

# json_get <python expression on d>: evaluates against the JSON on stdout.
json_get() {
    python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(($1))" "$tmp/out" 2>&1
}

case $group in
read_set)
    # The simulated chip powers up with the reserved default code 0 (3.4 V).
    expect 0 "vout    3.4 V" --simulate read
    [[ "$out" == *"note    Reserved value read from device."* ]] || fail "read: no reserved note: $out"
    expect 0 "" --simulate --json read
    [ "$(json_get 'd["ok"], d["code"], d["mode"], d["reserved"]')" = "(True, 0, 'auto', True)" ] \
        || fail "read --json: $(json_get 'd')"

    # By voltage, on either segment of the grid, and the code it lands on.
    expect 0 "3.300 V (0x43)" --simulate set --vout 3.3
    expect 0 "2.550 V (0x2a)" --simulate set --vout 2.55
    expect 0 "4.000 V (0x5f)" --simulate set --vout 4
    # By code, decimal or hexadecimal, with a mode; the read-back is in the JSON.
    expect 0 "" --simulate --json set --code 0x48 --mode forced
    [ "$(json_get 'd["after"]["code"], d["after"]["mode"], len(d["changes"])')" = "(72, 'forced', 2)" ] \
        || fail "set --code 0x48 --mode forced: $(json_get 'd')"
    expect 0 "mode    auto PWM -> pass-through" --simulate set --code 41 --mode passthrough
    # A mode alone keeps the reserved power-up code: the chip already holds it.
    expect 0 "mode    auto PWM -> forced PWM" --simulate set --mode forced
    expect 0 "unchanged" --simulate set --mode auto

    # Refused before anything is written.
    expect_error 2 "Code 0x05 (5) is reserved" --simulate set --code 5
    expect_error 2 "Code 0x00 (0) is reserved" --simulate set --code 0
    expect_error 2 "Code 0x60 (96) is reserved" --simulate set --code 0x60
    expect_error 2 "nearest are 3.300 V (0x43) and 3.325 V (0x44)" --simulate set --vout 3.31
    expect_error 2 "outside the output range" --simulate set --vout 2.4
    expect_error 2 "outside the output range" --simulate set --vout 4.1
    expect_error 2 "--vout and --code exclude each other" --simulate set --vout 3.3 --code 0x43
    expect_error 2 "set needs --vout, --code or --mode" --simulate set
    expect_error 2 "--mode is auto, forced or passthrough" --simulate set --mode eco
    expect_error 2 "--code wants a number" --simulate set --code 200
    ;;

registers)
    expect 0 "0x01  cr_vout_ref" --simulate registers
    [ "$(printf '%s\n' "$out" | grep -c '^0x')" = 5 ] || fail "registers: expected 5 registers: $out"
    expect 0 "cr_control" --simulate registers --filter CONTROL
    [ "$(printf '%s\n' "$out" | grep -c '^0x')" = 1 ] || fail "registers --filter CONTROL: $out"
    expect 0 "" --simulate --json registers --filter '^0x4'
    [ "$(json_get '[r["name"] for r in d["registers"]]')" = "['cr_manufacturer_id', 'cr_device_id']" ] \
        || fail "registers --filter ^0x4: $(json_get 'd')"
    # Fields with their values taken from the register.
    expect 0 "ref_dac_code" --simulate registers --fields 0x01
    expect 0 "" --simulate --json registers --fields 01
    [ "$(json_get '{f["name"]: (f["start"], f["size"], f["value"]) for f in d["fields"]}["ref_dac_code"]')" \
        = "('0', '7', '0x00')" ] || fail "registers --fields 01: $(json_get 'd')"
    expect_error 2 "No register at address 0x33" --simulate registers --fields 0x33
    expect_error 2 "--fields wants a register address" --simulate registers --fields zz
    expect_error 2 "is not a regular expression" --simulate registers --filter '('
    ;;

run)
    printf '# set and read back by name\r\nwrite_register cr_vout_ref 48\r\nread_register cr_vout_ref 1\r\nread_register 02 1\r\n' \
        >"$tmp/good.i2c"
    expect 0 "line 3: ok: read_register cr_vout_ref 1 = 48" --simulate run "$tmp/good.i2c"
    [[ "$out" == *"log: "*"regData wr  cr_vout_ref 48"* ]] || fail "run: no communication-log line: $out"
    [[ "$out" == *"script ok: 3 transfer lines"* ]] || fail "run: no summary: $out"
    # Standard input, and the JSON form.
    printf 'read_register 01 1\n' | "$ctl" --simulate --json run - >"$tmp/out" 2>"$tmp/err" || fail "run -: $(cat "$tmp/err")"
    [ "$(json_get 'd["ok"], d["transfers"], d["lines"][0]["value"]')" = "(True, 1, '00')" ] \
        || fail "run - --json: $(json_get 'd')"

    # Validation stops the script before anything reaches the chip.
    printf 'write_register cr_vout_ref 48\nwrite_register zz 47\nfrobnicate\n' >"$tmp/bad.i2c"
    expect_error 2 "is not a valid script: Invalid value on line 2" --simulate run "$tmp/bad.i2c"
    [[ "$err" == *"(and 1 more)"* ]] || fail "run bad.i2c: the second fault is not counted: $err"
    [ "$(printf '%s\n' "$out" | grep -c '^invalid: ')" = 2 ] || fail "run bad.i2c: $out"
    [[ "$out" != *"line 1: ok"* ]] || fail "run bad.i2c: a line ran: $out"
    head -c 4096 /dev/urandom >"$tmp/garbage.i2c"
    printf 'read_register 01 1\n' >>"$tmp/garbage.i2c"
    expect_error 2 "is not a valid script" --simulate run "$tmp/garbage.i2c"
    # Echoed script text never carries control characters to the terminal.
    if LC_ALL=C grep -q '[[:cntrl:]]' <(tr -d '\n\t' <"$tmp/out"; tr -d '\n\t' <"$tmp/err"); then
        fail "run garbage.i2c: control characters echoed"
    fi
    expect_error 4 "no such file" --simulate run "$tmp/missing.i2c"
    expect_error 4 "not a regular file" --simulate run "$tmp"
    ;;

apply)
    printf '[_0x70_bvr60600]\nalias=Board A\nvoutControl=72\nautoPwm=false\nforcedPwm=true\npassThrough=false\n' \
        >"$tmp/one.cfg"
    expect 0 "vout    3.4 V (0x00) -> 3.425 V (0x48)" --simulate apply "$tmp/one.cfg"
    [[ "$out" == *"mode    auto PWM -> forced PWM"* ]] || fail "apply one.cfg: no mode change: $out"
    printf '[_0x70_bvr60600]\nvoutControl=72\n[_0x71_bvr60600]\nvoutControl=80\npassThrough=true\n' >"$tmp/two.cfg"
    expect_error 2 "holds 2 devices; choose one with --section" --simulate apply "$tmp/two.cfg"
    # The chip is the one at the section's address.
    expect 0 "" --simulate --json apply "$tmp/two.cfg" --section :0x71:bvr60600
    [ "$(json_get 'd["dat"], d["after"]["code"], d["after"]["mode"]')" = "(':0x71:bvr60600', 80, 'passthrough')" ] \
        || fail "apply --section :0x71: $(json_get 'd')"
    expect_error 2 "has no device :0x72:bvr60600" --simulate apply "$tmp/two.cfg" --section :0x72:bvr60600
    # Two devices at one address behind different adapters are still two
    # devices to choose from, not one chip that does not answer.
    printf '[a_0x70_bvr60600]\nvoutControl=72\n[b_0x70_bvr60600]\nvoutControl=80\n' >"$tmp/twoadapters.cfg"
    expect_error 2 "holds 2 devices; choose one with --section (a:0x70:bvr60600, b:0x70:bvr60600)" \
        --simulate apply "$tmp/twoadapters.cfg"
    printf '[_0x70_bvr60600]\nvoutControl=72\n[b_0x70_bvr60600]\nvoutControl=80\n' >"$tmp/twoadapters.cfg"
    expect_error 2 "holds 2 devices; choose one with --section" --simulate apply "$tmp/twoadapters.cfg"
    expect 0 "vout    3.4 V (0x00) -> 3.425 V (0x48)" --simulate apply "$tmp/twoadapters.cfg" --section :0x70:bvr60600
    expect_error 3 "No bvr60600 answers at 0x70" --simulate apply "$tmp/twoadapters.cfg" --section b:0x70:bvr60600
    printf '[_0x70_bvr60600]\nvoutControl=5\n' >"$tmp/reserved.cfg"
    expect_error 2 "reserved" --simulate apply "$tmp/reserved.cfg"
    expect_error 4 "no such file" --simulate apply "$tmp/missing.cfg"
    ;;

serve)
    command -v curl >/dev/null || { echo "FAIL: curl is not installed (scripts/deps.sh)"; exit 1; }
    "$ctl" --simulate --json serve --port 0 >"$tmp/serve.out" 2>"$tmp/serve.err" &
    server_pid=$!
    port=
    for _ in $(seq 100); do
        port=$(python3 -c 'import json,sys; print(json.loads(open(sys.argv[1]).readline())["port"])' \
               "$tmp/serve.out" 2>/dev/null) && break
        sleep 0.1
    done
    [ -n "$port" ] || { fail "serve: no port reported: $(cat "$tmp/serve.err")"; exit 1; }
    base="http://127.0.0.1:$port"
    body=$(curl --silent --max-time 20 --noproxy '*' "$base/api/current")
    [ "$body" = "The current device is :0x70:bvr60600" ] || fail "serve: /api/current: $body"
    body=$(curl --silent --max-time 20 --noproxy '*' -X POST --data-binary \
           $'write_register cr_vout_ref 50\nread_register cr_vout_ref 1' "$base/api/current/doRunScript")
    body=$(curl --silent --max-time 20 --noproxy '*' "$base/api/current/task/getRegisterView")
    [[ "$body" == *'\"name\":\"cr_vout_ref\"'* && "$body" == *'\"value\":\"0x50\"'* ]] \
        || fail "serve: the script's write is not in the register view: $body"
    # A second server on the same port cannot listen, and says so.
    expect_error 1 "Cannot listen on port $port" --simulate serve --port "$port"
    kill -TERM "$server_pid"
    wait "$server_pid"
    serve_rc=$?
    server_pid=
    [ "$serve_rc" = 0 ] || fail "serve: exit $serve_rc after SIGTERM, expected 0"
    [ "$(python3 -c 'import json,sys; print(json.loads(open(sys.argv[1]).read().split("\n",1)[1])["ok"])' \
        "$tmp/serve.out" 2>&1)" = True ] || fail "serve: final JSON: $(cat "$tmp/serve.out")"
    ;;

hardware)
    # The adapter path: the fake FT4222 library stands where the vendor's would.
    export PANEL_FT4222_LIBRARY=$fake PANEL_D2XX_LIBRARY=$fake
    expect 0 "FT4222" adapters
    expect 0 ":0x70:bvr60600	bvr60600" scan --open
    expect 0 "3.300 V (0x43)" set --vout 3.3 --speed 400 --log "$tmp/comms.txt"
    grep -q "regData wr;;cr_vout_ref;43;" "$tmp/comms.txt" || fail "--log: no write in $(cat "$tmp/comms.txt")"
    # A log that cannot be written is not a success.
    expect_error 4 "Communication log file /dev/full cannot be written" set --vout 3.3 --log /dev/full
    # A chip that keeps its values: the read-back catches it.
    FAKE_BUS_WRITE_PROTECT=1 expect_error 1 "Read-back differs: wrote 0x50 forced, the chip holds 0x00 auto" \
        set --code 0x50 --mode forced
    # A line the chip refuses fails the run, the others still run.
    printf 'read_register 05 1\nread_register 01 1\n' >"$tmp/nack.i2c"
    expect_error 1 "1 of 2 transfer lines failed; first line 1" run "$tmp/nack.i2c"
    [[ "$out" == *"line 2: ok: read_register 01 1 = 00"* ]] || fail "run nack.i2c: line 2 did not run: $out"
    expect_error 3 "No bvr60600 answers at 0x71" --dat :0x71:bvr60600 read
    unset PANEL_FT4222_LIBRARY PANEL_D2XX_LIBRARY
    expect_error 3 "No I2C adapter found" read
    ;;

settings)
    # The window's stored preferences are neither read nor changed, and
    # panelctl leaves no settings store of its own behind.
    mkdir -p "$XDG_CONFIG_HOME/orvane"
    printf '[general]\ni2cSpeed=100\napiServicePort=9999\n' >"$XDG_CONFIG_HOME/orvane/BVR60600.conf"
    cp "$XDG_CONFIG_HOME/orvane/BVR60600.conf" "$tmp/before.conf"
    expect 0 "" --simulate --speed 400 set --vout 3.3
    expect 0 "" --simulate --timeout 5 read
    cmp -s "$XDG_CONFIG_HOME/orvane/BVR60600.conf" "$tmp/before.conf" || fail "the window's preferences changed"
    [ -z "$(find "$XDG_CONFIG_HOME" -type f ! -path '*/orvane/BVR60600.conf')" ] \
        || fail "settings files left behind: $(find "$XDG_CONFIG_HOME" -type f)"
    # Help for every command, and the program and each command say how they are used.
    expect 0 "Commands:" --help
    for command in adapters scan read set registers run apply serve; do
        expect 0 "Usage: panelctl [options] $command" "$command" --help
        expect 0 "Usage: panelctl [options] $command" help "$command"
    done
    ;;

*)
    echo "FAIL: unknown group $group"
    exit 1
    ;;
esac

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all $group checks passed"
