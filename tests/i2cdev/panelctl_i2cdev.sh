#!/usr/bin/env bash
# panelctl as its own process on an emulated kernel I2C bus (i2c-1, a
# bvr60600 at 0x70), the way a user runs it on a real one.
#
#   panelctl_i2cdev.sh <panelctl> <i2cdevbus> <preload libraries>
#
# Exits non-zero and names every failed check.
set -u
ctl=$1
harness=$2
preload=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Never the user's settings or data; no vendor library may answer instead.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share \
       XDG_CACHE_HOME=$tmp/home/.cache
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
export PANEL_FT4222_LIBRARY=/nonexistent PANEL_SUB20_LIBRARY=/nonexistent

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# [dat=DAT] expect <exit code> <text in the output> <harness options...> -- <panelctl args...>;
# the addresses the bus saw are in $tmp/addressed afterwards.
expect() {
    local want_rc=$1 want_out=$2
    shift 2
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    LD_PRELOAD=$preload timeout 60 "$harness" "${options[@]}" --record "$tmp/addressed" -- \
        "$ctl" --dat "${dat:-i2c-1:0x70:bvr60600}" "$@" >"$tmp/out" 2>"$tmp/err"
    local rc=$?
    if [ "$rc" != "$want_rc" ]; then
        fail "panelctl $*: exit $rc, expected $want_rc (stdout: $(cat "$tmp/out"); stderr: $(cat "$tmp/err"))"
    elif ! grep -qF -- "$want_out" "$tmp/out" "$tmp/err"; then
        fail "panelctl $*: no \"$want_out\" in: $(cat "$tmp/out" "$tmp/err")"
    fi
}

addressed() {
    wc -l <"$tmp/addressed"
}

# The bus is listed by its kernel name, and is the default adapter too.
expect 0 "i2c-1	i2c-tiny-usb at bus 001 device 004" -- adapters
expect 0 "\"\"	Bench bridge" --name "Bench bridge" -- adapters

# Register reads and writes: the chip's own scripts, and a script of ours.
expect 0 "code    0x00 (0)" -- read
expect 0 "vout    3.4 V (0x00) -> 3.300 V (0x43)" -- set --vout 3.3
printf 'write_register 40 5a\nread_register 40 1\n' >"$tmp/registers.i2c"
expect 0 "line 2: ok: read_register 40 1 = 5a" -- run "$tmp/registers.i2c"

# A NACK fails its line and names itself; the next line still runs.
printf 'read_register 43 1\nread_register 41 1\n' >"$tmp/nack.i2c"
expect 1 "line 1: FAIL: read_register 43 1: i2c-1: NACK from 0x70 (Remote I/O error)" -- run "$tmp/nack.i2c"
grep -qF "line 2: ok: read_register 41 1 = 07" "$tmp/out" || fail "run nack.i2c: line 2 did not run: $(cat "$tmp/out")"
dat=i2c-1:0x71:bvr60600 expect 3 "No bvr60600 answers at 0x71" -- read

# An open scan probes every address of a kernel bus only when allowed;
# otherwise only --dat's.
expect 0 "i2c-1:0x70:bvr60600	bvr60600" -- scan --open
[ "$(addressed)" = 1 ] || fail "scan --open without --allow-bus reached $(addressed) addresses: $(cat "$tmp/addressed")"
expect 0 "i2c-1:0x70:bvr60600	bvr60600" -- scan --open --allow-bus i2c-1
[ "$(addressed)" = 112 ] || fail "scan --open --allow-bus i2c-1 reached $(addressed) addresses, not 112"
expect 2 "--allow-bus wants kernel bus ids such as i2c-1" -- scan --open --allow-bus 1

# A bus without plain I2C is refused before anything reaches it.
expect 3 "No bvr60600 answers at 0x70" --smbus-only -- read
[ "$(addressed)" = 0 ] || fail "a bus without I2C_FUNC_I2C saw traffic: $(cat "$tmp/addressed")"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
