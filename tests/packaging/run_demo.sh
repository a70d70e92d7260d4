#!/bin/bash
# run_demo.sh BUILD SCRATCH — inside the test's own network and process namespaces, as root.
set -euo pipefail

build=$1 scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"
scratch_dirs=("$scratch") # this script outlives the caller's exec: it cleans up
demo_cmd="$(source_dir)/tools/demo/demo"

ip link set lo up
export TMPDIR="$scratch" QT_QPA_PLATFORM=offscreen VIGILEX_DEMO_POPUPS=false
dir=$("$demo_cmd" up "$build" --port 16161) || fail "demo up failed"
trap '"$demo_cmd" down --dir "$dir" >/dev/null 2>&1 || true; cleanup_scratch' EXIT
pass "demo up in $dir"

db="$dir/cfg/vigilex.db"
marker="$dir/demo-shutdown-requests.txt"
events() { sqlite3 "$db" "select count(*) from snmp_event where host='127.0.0.1' and event=$1;" 2>/dev/null || echo 0; }
program_alive() { kill -0 "$(cat "$dir/program.pid")" 2>/dev/null; }
logs() { cat "$dir"/log/*.log 2>/dev/null || true; }
in_log() { logs | grep -q -- "$1"; }
stored() { [ "$(events "$1")" -ge 1 ]; }

# wait_for SECONDS DESCRIPTION COMMAND...: bounded poll, 10 tries a second. COMMAND is run afresh each
# try, so it must not carry expansions ($(...), globs) that were made once at the call.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq 1 $((seconds * 10))); do
        "$@" && return 0
        program_alive || fail "demo program ended while waiting for $what: $(cat "$dir/program.out")"
        sleep 0.1
    done
    fail "no $what within $seconds s; events: $(sqlite3 "$db" "select * from snmp_event;" 2>&1); log: $(logs)"
}

wait_for 10 "start lines" in_log 'Info: Start SNMP trapd service\.'
wait_for 10 "card online (event 1 stored)" stored 1
pass "the simulated card is online within seconds"

# A mains failure with a full battery only starts the 1-minute countdown of the demo settings.
"$demo_cmd" card --dir "$dir" mains-failure >/dev/null
wait_for 5 "the mains-failure trap (event 6 stored)" stored 6
sleep 2
[ ! -e "$marker" ] || fail "a full battery on mains failure requested a shutdown at once: $(cat "$marker")"
pass "mains failure: event stored, countdown running, no shutdown yet"

# Capacity 10 % below the demo's 20 % while the mains is failed: shutdown at once, to the recorder only.
"$demo_cmd" card --dir "$dir" capacity 10 >/dev/null
wait_for 5 "the recorder's marker" test -s "$marker"
grep -q "shutdown requested" "$marker" || fail "marker file without the request line: $(cat "$marker")"
wait_for 2 "the recorder's log line" in_log 'Info: Demo: system shutdown requested (recorded, not performed)'
! logs | grep -q 'System shutdown impossible\|System shutdown refused' ||
    fail "the real shutdown layer was reached: $(logs | grep 'System shutdown')"
program_alive || fail "demo program ended after the shutdown request"
pass "low capacity on mains failure: shutdown recorded, not performed; the program keeps running"

pid=$(cat "$dir/program.pid")
card_pid=$(cat "$dir/card/snmpd.pid")
"$demo_cmd" down --dir "$dir"
trap cleanup_scratch EXIT
for _ in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || kill -0 "$card_pid" 2>/dev/null || break
    sleep 0.1
done
! kill -0 "$pid" 2>/dev/null || fail "demo down left the program running"
! kill -0 "$card_pid" 2>/dev/null || fail "demo down left the simulated card running"
[ ! -e "$dir" ] || fail "demo down left $dir"
pass "demo down stops program and card and removes the directory"
echo "test_demo: all checks passed"
