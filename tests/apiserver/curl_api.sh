#!/usr/bin/env bash
# The HTTP API as a program outside the process sees it: curl against the
# server program on the simulated chip, over 127.0.0.1.
#
#   curl_api.sh <path to apiserver>
#
# Exits non-zero and says which check failed on any failure; the server is
# always stopped at the end.
set -u
server=$1
command -v curl >/dev/null || { echo "FAIL: curl is not installed (scripts/deps.sh)"; exit 1; }

tmp=$(mktemp -d)
failures=0
server_pid=

stop_server() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
}
trap 'stop_server; rm -rf "$tmp"' EXIT
# A timeout's SIGTERM must still run the EXIT trap and stop the server.
trap 'exit 1' TERM INT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The server reads "off"/"on" commands from this pipe and tells its port on
# stdout; its log goes to a file shown when something fails.
coproc SERVER { exec "$server" 0 2>"$tmp/server.log"; }
server_pid=$SERVER_PID
exec {to_server}>&"${SERVER[1]}"
port=
if ! read -r -t 30 word port <&"${SERVER[0]}" || [ "$word" != port ] || [ -z "$port" ]; then
    echo "FAIL: the server did not report its port"
    cat "$tmp/server.log"
    exit 1
fi
base="http://127.0.0.1:$port"

# Answers "<status> <body>" on one line (the bodies here are one line long);
# "000" as status when nothing answered.
ask() {
    curl --silent --max-time 20 --noproxy '*' --output "$tmp/body" --write-out '%{http_code}' "$@"
    echo -n " "
    cat "$tmp/body" 2>/dev/null
    rm -f "$tmp/body"
}

# expect <check> <status> <text the body must contain, or "=" + the exact body> <curl arguments...>
expect() {
    local check=$1 status=$2 want=$3
    shift 3
    local got
    got=$(ask "$@")
    local got_status=${got%% *} got_body=${got#* }
    if [ "$got_status" != "$status" ]; then
        fail "$check: status $got_status, expected $status (body: $got_body)"
    elif [[ "$want" == =* ]]; then
        [ "$got_body" == "${want#=}" ] || fail "$check: body \"$got_body\", expected \"${want#=}\""
    elif [[ "$got_body" != *"$want"* ]]; then
        fail "$check: body \"$got_body\" lacks \"$want\""
    fi
}

# Listening is announced, but a slow machine still gets a bounded wait.
listening=0
for _ in $(seq 100); do
    if curl --silent --max-time 2 --noproxy '*' --output /dev/null "$base/api"; then
        listening=1
        break
    fi
    sleep 0.1
done
[ "$listening" = 1 ] || { fail "nothing listens on port $port"; cat "$tmp/server.log"; exit 1; }

expect "GET /api" 200 "=The GUI API service is listening on port $port" "$base/api"
expect "GET /api/current" 200 "=The current device is :0x70:bvr60600" "$base/api/current"

# Two lines: the write reaches the chip, the read-back puts the value in the
# register view that the next route returns.
expect "two-line script" 200 "=" --data-binary $'write_register 01 5a\nread_register 01 1' \
    "$base/api/current/doRunScript"
expect "register view after the script" 200 '\"value\":\"0x5a\"' "$base/api/current/task/getRegisterView"
got=$(curl --silent --noproxy '*' --include "$base/api/current/task/getRegisterView" | tr -d '\r')
grep -qi '^content-type: application/json' <<<"$got" || fail "register view is not sent as JSON"

expect "script refused by the parser" 400 "Failed parsing script" --data-binary 'no_such_command 1' \
    "$base/api/current/doRunScript"
expect "script failing on the chip" 400 "VSlave read failed" \
    --data-binary $'read_register 01 1\nread_register 55 1' "$base/api/current/doRunScript"

# Nothing but the four routes with their own methods is served.
expect "PUT /api" 404 "" -X PUT "$base/api"
expect "PUT script" 404 "" -X PUT --data-binary 'write_register 01 11' "$base/api/current/doRunScript"
expect "DELETE /api/current" 404 "" -X DELETE "$base/api/current"
expect "DELETE register view" 404 "" -X DELETE "$base/api/current/task/getRegisterView"
expect "GET script" 404 "" "$base/api/current/doRunScript"

# A web page's cross-site POST, and a body of a size no script needs.
expect "POST from a web page" 403 "Origin" -H 'Origin: http://example.org' \
    --data-binary 'write_register 01 22' "$base/api/current/doRunScript"
head -c $((1024 * 1024 + 1)) /dev/zero | tr '\0' '#' >"$tmp/big"
expect "body over 1 MiB" 413 "1 MiB" --data-binary "@$tmp/big" "$base/api/current/doRunScript"
# Neither reached the chip.
expect "register view after refused scripts" 200 '\"value\":\"0x5a\"' \
    "$base/api/current/task/getRegisterView"

# Switching the service off closes the port; switching it on opens it again.
port_answers() {
    curl --silent --max-time 2 --noproxy '*' --output /dev/null "$base/api"
    [ $? -ne 7 ] # 7: could not connect
}
wait_port() {
    local want=$1
    for _ in $(seq 50); do
        if port_answers; then [ "$want" = open ] && return 0; else [ "$want" = closed ] && return 0; fi
        sleep 0.1
    done
    return 1
}
echo off >&"$to_server"
wait_port closed || fail "the port stays open after switching the service off"
echo on >&"$to_server"
wait_port open || fail "the port stays closed after switching the service on again"
expect "GET /api/current after switching on" 200 "=The current device is :0x70:bvr60600" "$base/api/current"

# SIGTERM ends the server cleanly.
kill -TERM "$server_pid"
wait "$server_pid"
rc=$?
server_pid=
[ "$rc" -eq 0 ] || fail "the server exited with code $rc"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; server log:"
    cat "$tmp/server.log"
    exit 1
fi
echo "all HTTP API checks passed on port $port"
