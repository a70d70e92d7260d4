#!/bin/bash
# run_installed.sh PREFIX UID GID SCRATCH ROOT — run inside the install test's namespaces, as root.
# Runs the installed system as systemd would, without systemd: the machine's own system bus configuration
# (which reads the package's bus policy) in a dbus-daemon of its own, and the installed service as its user
# with the trap port as an ambient capability, as the unit gives it. UID is a member of the group GID.
# Checks that the service protects without anybody logged in (port 162, a trap stored), the modes of what it
# wrote, who may call it on the bus, that the installed window becomes its front end, and SIGTERM.
# PREFIX and SCRATCH lie inside ROOT and everything is started chrooted into it.
set -euo pipefail

prefix=$1 uid=$2 gid=$3 scratch=$4 root=$5
inst="$root$prefix"
launch=(chroot "$root")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"
trap - EXIT # the caller owns the scratch directory

ip link set lo up
user=$(sed -n 's/^User=//p' "$root/lib/systemd/system/vigilex.service")
service_uid=$("${launch[@]}" id -u "$user") || fail "postinst created no user $user"
clean_env=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)

# The system bus, on the overlay's /run; whatever would ask logind finds nobody there.
mkdir -p "$root/run/dbus"
"${launch[@]}" dbus-daemon --system --nofork --nopidfile >"$root$scratch/bus.out" 2>&1 &
bus_pid=$!
services=()
stop_all() {
    local p
    for p in "${services[@]}" "$bus_pid"; do kill -TERM "$p" 2>/dev/null || true; done
}
trap stop_all EXIT
for _ in $(seq 1 50); do
    [ -S "$root/run/dbus/system_bus_socket" ] && break
    sleep 0.1
done
[ -S "$root/run/dbus/system_bus_socket" ] || fail "no system bus: $(cat "$root$scratch/bus.out")"

# As the unit starts it: its user and group, log/ as working directory, CAP_NET_BIND_SERVICE ambient only.
# Every step execs the next, so the pid is the service's own.
"${clean_env[@]}" "${launch[@]}" setpriv --reuid="$service_uid" --regid="$gid" --init-groups \
    --inh-caps=+net_bind_service --ambient-caps=+net_bind_service --no-new-privs \
    sh -c "cd $prefix/log && exec $prefix/vigilex-service" >"$root$scratch/service.out" 2>&1 &
pid=$!
services+=("$pid")
logs() { cat "$inst"/log/*.log 2>/dev/null || true; }
for _ in $(seq 1 150); do
    grep -q 'Protection service started' "$root$scratch/service.out" && break
    kill -0 "$pid" 2>/dev/null || fail "the service ended early: $(cat "$root$scratch/service.out")"
    sleep 0.1
done
grep -q 'Protection service started, watching 0 card(s)' "$root$scratch/service.out" ||
    fail "no start line on the standard error: $(cat "$root$scratch/service.out")"
logs | grep -q 'Info: Protection service started' || fail "no start line in the day's log: $(logs)"
pass "installed service started as $user (uid $service_uid): start line on the standard error and in the day's log"

# The trap listener may open its socket a moment after the log line.
bound=no
for _ in $(seq 1 100); do
    if ss -Hulnp 'sport = :162' | grep -q "users:"; then
        bound=yes
        break
    fi
    sleep 0.1
done
[ $bound = yes ] || fail "the service holds no UDP port 162: $(ss -Hulnp) / $(grep -h Warning "$inst"/log/*.log)"
pass "UDP port 162 is held by the service without root and without a file capability"

MIBS="" snmptrap -v 2c -c public 127.0.0.1:162 '' .1.3.6.1.4.1.935.0.5 >/dev/null 2>&1 || fail "snmptrap could not send"
stored=0
for _ in $(seq 1 100); do
    stored=$(sqlite3 "$inst/cfg/vigilex.db" "select count(*) from snmp_event where host='127.0.0.1' and event=6;" \
        2>/dev/null || echo 0)
    [ "$stored" -ge 1 ] && break
    sleep 0.1
done
[ "$stored" -ge 1 ] || fail "a trap to port 162 left no event 6 in the database"
grep -q 'Event from 127.0.0.1: 6' "$root$scratch/service.out" || fail "the event is not on the standard error"
pass "with nobody logged in, a trap to port 162 is stored and reaches the journal's stream"

for file in cfg/vigilex.db cfg/vigilex.db-wal cfg/vigilex.db-shm; do
    [ -f "$inst/$file" ] || fail "$file was not created"
    [ "$(stat -c '%a %u' "$inst/$file")" = "600 $service_uid" ] ||
        fail "$file is $(stat -c '%a %u %g' "$inst/$file"), want 600 $service_uid"
done
[ "$(stat -c '%a %u %g' "$inst/cfg")" = "750 $service_uid $gid" ] || fail "cfg/ is $(stat -c '%a %u %g' "$inst/cfg")"
member=("${launch[@]}" setpriv --reuid="$uid" --regid="$uid" --groups="$gid")
! "${member[@]}" sh -c "echo x >>$prefix/cfg/vigilex.db" 2>/dev/null || fail "a member could write the database"
! "${member[@]}" touch "$prefix/cfg/planted" 2>/dev/null || fail "a member could create a file in cfg/"
pass "the database is the service user's alone (0600); members may neither write it nor add to cfg/"

# The package's bus policy: members call the service, others may not.
call() {
    "${clean_env[@]}" "${launch[@]}" setpriv --reuid="$1" --regid="$1" $2 dbus-send --system --print-reply \
        --dest=org.vigilex.Protection1 /org/vigilex/Protection1 org.vigilex.Protection1.Countdown
}
call "$uid" "--groups=$gid" >"$root$scratch/member-call.out" 2>&1 || fail "a member cannot call the service: $(cat "$root$scratch/member-call.out")"
grep -q 'int64 -1' "$root$scratch/member-call.out" || fail "unexpected answer: $(cat "$root$scratch/member-call.out")"
outsider=$("${launch[@]}" id -u www-data)
if call "$outsider" --clear-groups >"$root$scratch/outsider-call.out" 2>&1; then
    fail "a user outside the group could call the service"
fi
grep -q 'AccessDenied' "$root$scratch/outsider-call.out" || fail "outsider call failed otherwise: $(cat "$root$scratch/outsider-call.out")"
pass "bus policy: a member of the group calls the service, a user outside it is refused"

# The installed window of a member becomes the service's front end: no second protection, port 162 kept.
mkdir -p "$root$scratch/home" "$root$scratch/runtime"
chown "$uid:$gid" "$root$scratch/home" "$root$scratch/runtime"
chmod 0700 "$root$scratch/runtime"
"${clean_env[@]}" HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "${member[@]}" "$prefix/vigilex" >"$root$scratch/window.out" 2>&1 &
window=$!
services+=("$window")
for _ in $(seq 1 150); do
    logs | grep -q 'Front end of the protection service' && break
    kill -0 "$window" 2>/dev/null || fail "the window ended: $(cat "$root$scratch/window.out")"
    sleep 0.1
done
logs | grep -q 'Front end of the protection service' || fail "the window did not follow the service: $(logs | tail -5)"
[ "$(logs | grep -c 'Start SNMP trapd service')" = 1 ] || fail "the window started a protection of its own"
kill -TERM "$window"
wait "$window" || fail "the window ended with status $? after SIGTERM"
pass "the installed window of a member is the service's front end and starts no protection"

kill -TERM "$pid"
status=0
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the service did not end within 10 s of SIGTERM"
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "the service ended with status $status after SIGTERM: $(cat "$root$scratch/service.out")"
grep -q 'Protection service stopping' "$root$scratch/service.out" || fail "no stop line"
pass "SIGTERM ends the service with status 0"
