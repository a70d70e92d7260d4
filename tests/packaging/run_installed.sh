#!/bin/bash
# run_installed.sh PREFIX UID GID SCRATCH [ROOT] — run inside a fresh network namespace (unshare -n), as root.
# Starts PREFIX/vigilex as UID with GID as its extra group (a user who joined the program's group), offscreen,
# and checks its start lines, that it holds UDP port 162 without root, and the modes of what it wrote.
# Then SIGTERM: it must end cleanly. With ROOT, PREFIX and SCRATCH lie inside that tree and the program is
# started chrooted into it.
set -euo pipefail

prefix=$1 uid=$2 gid=$3 scratch=$4 root=${5:-}
inst="$root$prefix"
launch=()
[ -n "$root" ] && launch=(chroot "$root")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"
trap - EXIT # the caller owns the scratch directory

ip link set lo up

# No system or session bus: whatever the program would ask of logind cannot reach it.
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
    "${launch[@]}" setpriv --reuid="$uid" --regid="$uid" --groups="$gid" "$prefix/vigilex" \
    >"$root$scratch/program.out" 2>&1 &
pid=$!
stop_program() { kill -TERM "$pid" 2>/dev/null || true; }
trap stop_program EXIT

# Bounded wait: 15 s for both start lines.
started=no
for _ in $(seq 1 150); do
    if grep -qs 'Info: Start SNMP NMS service\.' "$inst"/log/*.log &&
        grep -qs 'Info: Start SNMP trapd service\.' "$inst"/log/*.log; then
        started=yes
        break
    fi
    kill -0 "$pid" 2>/dev/null || fail "program ended early: $(cat "$root$scratch/program.out")"
    sleep 0.1
done
[ $started = yes ] || fail "no start lines within 15 s; log: $(cat "$inst"/log/*.log 2>/dev/null)"
pass "installed program started as uid $uid: 'Start SNMP NMS service.' and 'Start SNMP trapd service.' in its log"

# The trap listener may open its socket a moment after the log line.
bound=no
for _ in $(seq 1 100); do
    if ss -Hulnp 'sport = :162' | grep -q "pid=$pid,"; then
        bound=yes
        break
    fi
    sleep 0.1
done
[ $bound = yes ] || fail "program holds no UDP port 162 without root: $(ss -Hulnp) / $(grep -h Warning "$inst"/log/*.log)"
pass "UDP port 162 is held by the unprivileged program (file capability)"

# And a trap sent there becomes a stored event: notification 5 of the UPS arrives as event 6.
MIBS="" snmptrap -v 2c -c public 127.0.0.1:162 '' .1.3.6.1.4.1.935.0.5 >/dev/null 2>&1 ||
    fail "snmptrap could not send"
stored=0
for _ in $(seq 1 100); do
    stored=$(sqlite3 "$inst/cfg/vigilex.db" "select count(*) from snmp_event where host='127.0.0.1' and event=6;" \
        2>/dev/null || echo 0)
    [ "$stored" -ge 1 ] && break
    sleep 0.1
done
[ "$stored" -ge 1 ] || fail "a trap to port 162 left no event 6 in the database"
pass "a trap to port 162 is received and stored without root"

# The database and the settings exist now (tables at start, the language index written at once):
# owner and group only, and the group is the directory's.
for _ in $(seq 1 100); do
    [ -f "$inst/cfg/settings.ini" ] && [ -f "$inst/cfg/vigilex.db" ] && break
    sleep 0.1
done
# Numeric ids: the group may exist only inside ROOT. The write-ahead log and its index are SQLite's own files,
# made by the first write: every member's program must be able to use them too.
for file in cfg/vigilex.db cfg/vigilex.db-wal cfg/vigilex.db-shm cfg/settings.ini; do
    [ -f "$inst/$file" ] || fail "$file was not created"
    [ "$(stat -c '%a %u %g' "$inst/$file")" = "660 $uid $gid" ] ||
        fail "$file is $(stat -c '%a %u %g' "$inst/$file"), want 660 $uid $gid"
done
# Every group member's program appends to the same day's log.
for log in "$inst"/log/*.log; do
    [ "$(stat -c '%a %g' "$log")" = "660 $gid" ] || fail "$(basename "$log") is $(stat -c '%a %g' "$log"), want 660 $gid"
done
pass "vigilex.db (with -wal, -shm), settings.ini and the day's log are 0660, uid $uid, gid $gid (nothing for others)"

stop_program
trap - EXIT
status=0
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "program did not end within 10 s of SIGTERM"
fi
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "program ended with status $status after SIGTERM: $(cat "$root$scratch/program.out")"
pass "SIGTERM ends the program with status 0"
