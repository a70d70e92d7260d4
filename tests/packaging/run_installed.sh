#!/bin/bash
# run_installed.sh PREFIX UID GID SCRATCH ROOT — run inside the install test's namespaces, as root.
# Runs the installed system as systemd would, without systemd: the machine's own system bus configuration
# (which reads the package's bus policy) in a dbus-daemon of its own, the real polkitd deciding with the
# package's actions and rules, and the installed service as its user without any capability, handed the trap
# sockets as its socket unit does. UID is a member of the group GID.
# Checks that the service protects without anybody logged in (port 162, a trap stored), the modes of what it
# wrote, who may call it on the bus, what a member may change and what needs an administrator, that nothing
# reaches an outsider, that no secret is read back, that the shutdown application runs contained, that the
# installed window becomes its front end, and SIGTERM.
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
unit="$root/lib/systemd/system/vigilex.service"
user=$(sed -n 's/^User=//p' "$unit")
service_uid=$("${launch[@]}" id -u "$user") || fail "postinst created no user $user"
service_gid=$("${launch[@]}" id -g "$user")
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

# on_bus NAME: whether NAME has an owner on the sandbox's bus.
on_bus() {
    "${launch[@]}" dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
# The real authority, as its own unit starts it (as root; it becomes the user polkitd itself), reading the
# package's actions and rules.
"${clean_env[@]}" "${launch[@]}" /usr/lib/polkit-1/polkitd --no-debug >"$root$scratch/polkitd.out" 2>&1 &
services+=($!)
for _ in $(seq 1 100); do
    on_bus org.freedesktop.PolicyKit1 && break
    sleep 0.1
done
on_bus org.freedesktop.PolicyKit1 || fail "polkitd did not come up: $(cat "$root$scratch/polkitd.out")"
pass "the real polkitd ($("${launch[@]}" dpkg-query -W -f '${Version}' polkitd)) answers on the sandbox's bus"

# As the units start it: the socket unit binds the trap port as root and hands it over as descriptors 3 and
# 4 (LISTEN_FDS, LISTEN_PID as systemd sets them); the service runs as its user and group, in /, with no
# capability in any set. Every step execs the next, so the pid is the service's own and so are the sockets.
# (systemd-socket-activate would wait for the first datagram before starting it.)
grep -qx 'ListenDatagram=0.0.0.0:162' "$root/lib/systemd/system/vigilex.socket" || fail "the socket unit does not hold 162"
"${clean_env[@]}" "${launch[@]}" python3 -c '
import os, socket, sys
v4 = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
v4.bind(("0.0.0.0", 162))
v6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
v6.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
v6.bind(("::1", 162))
for fd, sock in ((3, v4), (4, v6)):
    if sock.fileno() != fd:
        os.dup2(sock.fileno(), fd)
    os.set_inheritable(fd, True)
os.environ.update(LISTEN_PID=str(os.getpid()), LISTEN_FDS="2", LISTEN_FDNAMES="vigilex.socket:vigilex.socket")
os.execvp(sys.argv[1], sys.argv[1:])' \
    setpriv --reuid="$service_uid" --regid="$service_gid" --init-groups --bounding-set=-all --inh-caps=-all \
    --no-new-privs sh -c "cd / && umask 0027 && exec $prefix/vigilex-service" >"$root$scratch/service.out" 2>&1 &
pid=$!
services+=("$pid")
logs() { cat "$inst"/log/*.log "$root$scratch"/home/.local/state/vigilex/*.log 2>/dev/null || true; }
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
ss -Hulnp 'sport = :162' | grep -q "pid=$pid," || fail "port 162 is not the service's: $(ss -Hulnp 'sport = :162')"
for set in CapInh CapPrm CapEff CapBnd CapAmb; do
    grep -qx "$set:[[:space:]]*0000000000000000" "/proc/$pid/status" ||
        fail "the service has capabilities: $(grep ^Cap "/proc/$pid/status")"
done
pass "UDP port 162 is held by the service through the passed sockets, without any capability"

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
[ "$(stat -c '%a %U %g' "$inst/cfg")" = "1775 root $service_gid" ] || fail "cfg/ is $(stat -c '%a %U %g' "$inst/cfg")"
for file in "$inst"/log/*.log; do
    [ "$(stat -c '%a %u %g' "$file")" = "640 $service_uid $gid" ] || fail "$file is $(stat -c '%a %u %g' "$file")"
done
member=("${launch[@]}" setpriv --reuid="$uid" --regid="$uid" --groups="$gid")
! "${member[@]}" sh -c "echo x >>$prefix/cfg/vigilex.db" 2>/dev/null || fail "a member could write the database"
! "${member[@]}" touch "$prefix/cfg/planted" 2>/dev/null || fail "a member could create a file in cfg/"
! "${member[@]}" sh -c ": >$prefix/log/$(date +%Y%m%d).log" 2>/dev/null || fail "a member could truncate the service's log"
! "${member[@]}" touch "$prefix/log/planted.log" 2>/dev/null || fail "a member could create a file in log/"
"${member[@]}" cat "$prefix/log/$(date +%Y%m%d).log" >/dev/null 2>&1 || fail "a member cannot read the service's log"
service_owner=("${launch[@]}" setpriv --reuid="$service_uid" --regid="$service_gid" --init-groups)
! "${service_owner[@]}" sh -c "echo x >$prefix/cfg/vigilex.cfg" 2>/dev/null || fail "the service could rewrite the catalogue"
! "${service_owner[@]}" mv -f "$prefix/cfg/vigilex.db" "$prefix/cfg/vigilex.cfg" 2>/dev/null ||
    fail "the service could replace the catalogue"
pass "the database is the service user's alone (0600); members may neither write it nor add to cfg/ or log/, but read the log; the catalogue stays root's"

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

# --- what polkit lets each one do: the real polkitd decides with the package's actions and rules ---
# as UID GROUPS METHOD ARGS...: a call of the service as that user, its reply on the standard output.
as() {
    local who=$1 groups=$2 method=$3
    shift 3
    "${clean_env[@]}" "${launch[@]}" setpriv --reuid="$who" --regid="$who" $groups dbus-send --system --print-reply \
        --reply-timeout=20000 --dest=org.vigilex.Protection1 /org/vigilex/Protection1 "org.vigilex.Protection1.$method" "$@"
}
as_member() { as "$uid" "--groups=$gid" "$@"; }
as_root() { as 0 --clear-groups "$@"; }
flat() { tr -s ' \n' ' '; }

# Who hears the service: a member's monitor and an outsider's, both listening before anything changes.
monitor() {
    "${clean_env[@]}" "${launch[@]}" setpriv --reuid="$1" --regid="$1" $2 \
        dbus-monitor --system "type='signal',sender='org.vigilex.Protection1'" >"$root$scratch/$3.monitor" 2>&1 &
    services+=($!)
}
monitor "$uid" "--groups=$gid" member
monitor "$outsider" --clear-groups outsider
sleep 1

# A card of the member's own, simulated inside the sandbox's network namespace.
card_dir="$scratch/card"
"${launch[@]}" "$(source_dir)/tools/upssim/upssim" start "$card_dir" --listen udp:127.0.0.1:16161 >"$root$scratch/upssim.out" 2>&1 ||
    fail "the simulated card did not start: $(cat "$root$scratch/upssim.out")"
stop_card() { "${launch[@]}" "$(source_dir)/tools/upssim/upssim" stop "$card_dir" >/dev/null 2>&1 || true; }
trap 'stop_card; stop_all' EXIT
as_member AddHost string:127.0.0.1 int32:16161 int32:0 string:public int32:0 int32:0 string: string: \
    >"$root$scratch/member-add.out" 2>&1 || fail "a member cannot add a card: $(cat "$root$scratch/member-add.out")"
online=no
for _ in $(seq 1 100); do
    if as_member Cards 2>/dev/null | flat | grep -q 'string "127.0.0.1" \] array \[ int32 1 \]'; then
        online=yes
        break
    fi
    sleep 0.1
done
[ $online = yes ] || fail "the member's card did not come online: $(as_member Cards 2>&1 | flat)"
as_member SetSetting string:shutdown/ac_failed_capacity variant:int32:50 >"$root$scratch/member-set.out" 2>&1 ||
    fail "a member cannot change a setting: $(cat "$root$scratch/member-set.out")"
as_member Setting string:shutdown/ac_failed_capacity 2>&1 | flat | grep -q "variant int32 50" ||
    fail "the member's setting did not stick: $(as_member Setting string:shutdown/ac_failed_capacity 2>&1 | flat)"
grep -q "ac_failed_capacity=50" "$inst/cfg/settings.ini" || fail "the member's setting is not in the settings file"
pass "a member adds a card, which comes online, and changes a setting, which sticks (polkit: group rule)"

# No secret comes back: the community is said to be set, not given.
host=$(as_member Host string:127.0.0.1 2>&1 | flat)
! grep -q 'public' <<<"$host" || fail "Host() gives the community away: $host"
grep -q 'boolean true' <<<"$host" || fail "Host() does not say the community is set: $host"
pass "Host() returns no community, only that one is set"

# The application is an administrator's choice: a member is refused (no agent can ask for a password here),
# root may; and it runs in /, without capabilities.
probe=/usr/local/bin/vigilex-probe
mkdir -p "$root/usr/local/bin" "$root$scratch/probe"
chmod 1777 "$root$scratch/probe"
cat >"$root$probe" <<PROBE
#!/bin/sh
{ pwd; id -u; grep ^Cap /proc/self/status; } >$scratch/probe/application.tmp
mv $scratch/probe/application.tmp $scratch/probe/application.out
PROBE
chmod 0755 "$root$probe"
if as_member SetSetting string:system/shutdown_app "variant:string:$probe" >"$root$scratch/member-app.out" 2>&1; then
    fail "a member could choose the shutdown application"
fi
grep -q 'NotAuthorized' "$root$scratch/member-app.out" || fail "the member's choice failed otherwise: $(cat "$root$scratch/member-app.out")"
! grep -q 'shutdown_app=' "$inst/cfg/settings.ini" || fail "the member's refused choice reached the settings file"
as_member SetSetting string:system/shutdown_app_enable variant:boolean:true >/dev/null 2>&1 &&
    fail "a member could switch the shutdown application on"
if as_member TestShutdownApplication "string:$probe" int32:1 >/dev/null 2>&1; then
    fail "a member could run a program of their choice in the service"
fi
[ ! -e "$root$scratch/probe/application.out" ] || fail "the refused test run ran the program"
pass "a member can neither choose the shutdown application, nor switch it on, nor run one as a test"

as_root SetSetting string:system/shutdown_app "variant:string:$probe" >"$root$scratch/root-app.out" 2>&1 ||
    fail "root cannot choose the application: $(cat "$root$scratch/root-app.out")"
as_root SetSetting string:system/shutdown_app_enable variant:boolean:true >/dev/null 2>&1 || fail "root cannot switch it on"
# Mains failure with 10 % left, under the 50 % the member set for the capacity rule: the application runs at once.
"${launch[@]}" "$(source_dir)/tools/upssim/upssim" state "$card_dir" battery-low >"$root$scratch/upssim-state.out" 2>&1 ||
    fail "the card did not change state: $(cat "$root$scratch/upssim-state.out")"
for _ in $(seq 1 150); do
    [ -s "$root$scratch/probe/application.out" ] && break
    sleep 0.1
done
[ -s "$root$scratch/probe/application.out" ] || fail "the shutdown application did not run: $(tail -12 "$root$scratch/service.out") / $(cat "$root$scratch/upssim-state.out") / $(as_member Cards | flat)"
{ read -r cwd; read -r app_uid; } <"$root$scratch/probe/application.out"
[ "$cwd" = / ] || fail "the application runs in $cwd"
[ "$app_uid" = "$service_uid" ] || fail "the application runs as uid $app_uid"
for set in CapInh CapPrm CapEff CapBnd CapAmb; do
    grep -qx "$set:[[:space:]]*0000000000000000" "$root$scratch/probe/application.out" ||
        fail "the application has capabilities: $(cat "$root$scratch/probe/application.out")"
done
pass "root chooses the application; at the outage it runs as $user in /, with no capability in any set"
"${launch[@]}" "$(source_dir)/tools/upssim/upssim" state "$card_dir" normal >/dev/null 2>&1 || true

# The power-off rule, asked of the real polkitd about live processes (nothing is powered off: logind is not
# on this bus). The service's user may; a member outside a local active session may not.
"${launch[@]}" pkcheck --action-id org.freedesktop.login1.power-off --process "$pid" >/dev/null 2>&1 ||
    fail "polkit does not let the service power off"
"${member[@]}" sleep 30 &
sleeper=$!
services+=("$sleeper")
sleep 0.2
if "${launch[@]}" pkcheck --action-id org.freedesktop.login1.power-off --process "$sleeper" >/dev/null 2>&1; then
    fail "polkit lets a member power off from outside a local active session"
fi
kill "$sleeper" 2>/dev/null || true
pass "power-off: granted to the service's user, not to a member without a local active session"

# The outsider heard nothing of all this; the member heard the card and the events.
sleep 0.5
grep -q 'member=HostsChanged' "$root$scratch/member.monitor" || fail "the member heard no HostsChanged: $(cat "$root$scratch/member.monitor")"
grep -q 'member=EventArrived' "$root$scratch/member.monitor" || fail "the member heard no EventArrived"
! grep -q 'interface=org.vigilex.Protection1' "$root$scratch/outsider.monitor" || fail "an outsider heard the service: $(grep 'interface=org.vigilex' "$root$scratch/outsider.monitor" | head -3)"
pass "the member's monitor hears the service's signals, an outsider's hears none"
as_member RemoveHost string:127.0.0.1 >/dev/null 2>&1 || fail "a member cannot remove the card"
stop_card

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
