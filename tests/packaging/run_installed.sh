#!/bin/bash
# run_installed.sh PREFIX UID GID SCRATCH ROOT — run inside the install test's namespaces, as root.
# Starts PREFIX/vigilex as UID with GID as its extra group (a user who joined the program's group), offscreen,
# and checks its start lines, that the capability's secure mode drops Qt's plugin paths, that it holds UDP
# port 162 without root, the modes of what it wrote, and that a second start (same user, other member) never
# begins a second protection. Then SIGTERM: it must end cleanly; and a holder killed outright leaves no lock.
# PREFIX and SCRATCH lie inside ROOT and the program is started chrooted into it.
set -euo pipefail

prefix=$1 uid=$2 gid=$3 scratch=$4 root=$5
inst="$root$prefix"
launch=(chroot "$root")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"
trap - EXIT # the caller owns the scratch directory

ip link set lo up

# No system or session bus: whatever the program would ask of logind cannot reach it.
# start_as UID NAME [VAR=VALUE...]: starts the installed program as UID (a member), output in NAME.out;
# sets started_pid.
start_as() {
    local who=$1 name=$2
    shift 2
    mkdir -p "$root$scratch/home-$who" "$root$scratch/runtime-$who"
    chown "$who:$gid" "$root$scratch/home-$who" "$root$scratch/runtime-$who"
    chmod 0700 "$root$scratch/runtime-$who"
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$scratch/home-$who" XDG_RUNTIME_DIR="$scratch/runtime-$who" \
        QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
        DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "$@" \
        "${launch[@]}" setpriv --reuid="$who" --regid="$who" --groups="$gid" "$prefix/vigilex" \
        >"$root$scratch/$name.out" 2>&1 &
    started_pid=$!
}
logs() { cat "$inst"/log/*.log 2>/dev/null || true; }
count_in_log() { logs | grep -c -- "$1" || true; }

# Code that Qt would load from a path in the environment: the capability's secure-execution mode must drop
# it. QT_DEBUG_PLUGINS makes Qt name every directory it searches.
evil="$scratch/evil"
mkdir -p "$root$evil/platforms"
plugin_env=(QT_DEBUG_PLUGINS=1 QT_PLUGIN_PATH="$evil" QT_QPA_PLATFORM_PLUGIN_PATH="$evil/platforms")
start_as "$uid" program "${plugin_env[@]}"
pid=$started_pid
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

grep -q 'QFactoryLoader' "$root$scratch/program.out" || fail "Qt printed no plugin search: $(cat "$root$scratch/program.out")"
! grep -q "$evil" "$root$scratch/program.out" ||
    fail "the program under the capability searched the plugin path of its environment: $(grep "$evil" "$root$scratch/program.out" | head -3)"
# The same file without the capability (a copy loses it) does search there: the check above can fail.
mkdir -p "$root$scratch/nocap"
cp "$inst/vigilex" "$root$scratch/nocap/vigilex"
chmod 0755 "$root$scratch/nocap/vigilex"
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/ QT_QPA_PLATFORM=offscreen "${plugin_env[@]}" timeout -s KILL 5 \
    "${launch[@]}" setpriv --reuid="$uid" --regid="$uid" --groups="$gid" "$scratch/nocap/vigilex" \
    >"$root$scratch/nocap.out" 2>&1 || true
grep -q "$evil" "$root$scratch/nocap.out" || fail "even without the capability Qt did not search $evil: $(cat "$root$scratch/nocap.out")"
pass "under the capability Qt ignores the plugin paths of the environment (without it, it searches them)"

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

# One protection per installation. A second start of the same user brings the running window forward and
# ends; one of another member names the protecting user in a box (offscreen it stays up until killed).
# Neither polls nor takes port 162: the start line stays single.
start_as "$uid" second
second=$started_pid
for _ in $(seq 1 100); do
    kill -0 "$second" 2>/dev/null || break
    sleep 0.1
done
! kill -0 "$second" 2>/dev/null || fail "a second start of the same user did not end within 10 s"
wait "$second" || fail "a second start of the same user ended with status $?: $(cat "$root$scratch/second.out")"
[ "$(count_in_log 'Second start: the running instance of this user brings its window forward')" = 1 ] ||
    fail "the second start did not hand over to the running instance: $(logs | tail -5)"
[ "$(count_in_log 'Second start of this user: window brought forward')" = 1 ] ||
    fail "the running instance did not bring its window forward: $(logs | tail -5)"
pass "a second start of the same user brings the running window forward and ends with status 0"

other=$("${launch[@]}" id -u daemon)
start_as "$other" other
other_pid=$started_pid
for _ in $(seq 1 100); do
    [ "$(count_in_log 'Second start: the protection already runs in the session of user nobody')" = 1 ] && break
    kill -0 "$other_pid" 2>/dev/null || fail "the other member's start ended without its box: $(logs | tail -5)"
    sleep 0.1
done
[ "$(count_in_log 'Second start: the protection already runs in the session of user nobody')" = 1 ] ||
    fail "the other member's start did not name the protecting user: $(cat "$root$scratch/other.out"; logs | grep -v QFactoryLoader | tail -5)"
kill -KILL "$other_pid" 2>/dev/null || true
wait "$other_pid" 2>/dev/null || true
[ "$(count_in_log 'Info: Start SNMP NMS service\.')" = 1 ] || fail "a second start began a second protection"
ss -Hulnp 'sport = :162' | grep -q "pid=$pid," || fail "port 162 is no longer held by the first instance"
pass "another member's start names user nobody as the protecting one; still one protection, port 162 kept"

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

# The lock goes with its holder, however it ends: after a kill -9 the next start protects.
start_as "$uid" crashed
crashed=$started_pid
for _ in $(seq 1 150); do
    [ "$(count_in_log 'Info: Start SNMP NMS service\.')" = 2 ] && break
    sleep 0.1
done
kill -KILL "$crashed"
wait "$crashed" 2>/dev/null || true
start_as "$other" after
after=$started_pid
for _ in $(seq 1 150); do
    [ "$(count_in_log 'Info: Start SNMP NMS service\.')" = 3 ] && break
    kill -0 "$after" 2>/dev/null || fail "the start after a killed holder ended: $(cat "$root$scratch/after.out")"
    sleep 0.1
done
[ "$(count_in_log 'Info: Start SNMP NMS service\.')" = 3 ] || fail "no protection started after the holder was killed"
kill -TERM "$after"
wait "$after" || fail "the later instance ended with status $? after SIGTERM"
pass "a holder killed with SIGKILL leaves no lock behind: the next member's start protects"
