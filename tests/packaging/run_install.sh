#!/bin/bash
# run_install.sh BUILD DEB SCRATCH — inside private mount, network and process namespaces, as root.
set -euo pipefail

build=$1 deb=$2 scratch=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"
trap - EXIT # the caller removes the scratch directory once this namespace is gone

prefix=$(cache_value "$build" CMAKE_INSTALL_PREFIX)
layer="$scratch/layer"
root="$scratch/root"
mkdir -p "$layer" "$root"
mount -t tmpfs -o size=512m tmpfs "$layer"
mkdir -p "$layer/upper" "$layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$layer/upper,workdir=$layer/work" "$root"

# Refuse to go on unless writes under $root really stay in the overlay.
[ "$(findmnt -n -o FSTYPE --mountpoint "$root")" = overlay ] || fail "$root is not an overlay"
probe="/etc/vigilex-overlay-probe.$$"
touch "$root$probe"
if [ -e "$probe" ]; then
    rm -f "$root$probe" "$probe"
    fail "a write into the overlay reached the real root; stopping"
fi
[ -e "$layer/upper$probe" ] || fail "the overlay's upper layer did not get the probe"
rm -f "$root$probe"
unmount_all() { umount -R "$root" 2>/dev/null || umount -R -l "$root" 2>/dev/null || true; }
trap unmount_all EXIT
mount -t proc proc "$root/proc"
# A /dev of its own with the few nodes dpkg and the program use; never the machine's /dev, which a stray
# delete inside the tree would empty.
mount -t tmpfs -o mode=755 tmpfs "$root/dev"
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
    set -- $node
    mknod -m 666 "$root/dev/$1" c "$2" "$3"
done
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mount -t tmpfs tmpfs "$root/tmp"
chmod 1777 "$root/tmp"
pass "copy-on-write root ready; writes stay out of the real root"

in_root() { chroot "$root" "$@"; }
if [ -e "$root$prefix" ] || in_root dpkg-query -W vigilex >/dev/null 2>&1; then
    echo "SKIP: this machine has $prefix or a vigilex package already; the overlay would mix with it"
    exit 77
fi

cp "$deb" "$root/tmp/vigilex.deb"
if ! in_root env DEBIAN_FRONTEND=noninteractive dpkg -i /tmp/vigilex.deb >"$scratch/dpkg-install.log" 2>&1; then
    fail "dpkg -i failed: $(cat "$scratch/dpkg-install.log")"
fi
[ "$(in_root dpkg-query -W -f '${Status}' vigilex)" = "install ok installed" ] || fail "package not installed"
pass "dpkg -i installs the package (dependencies present, postinst succeeds)"

entry=$(in_root getent group vigilex) || fail "postinst created no group vigilex"
gid=$(cut -d: -f3 <<<"$entry")
[ "$gid" -lt 1000 ] || fail "group vigilex ($gid) is not a system group"
service_uid=$(in_root id -u vigilexd) || fail "postinst created no user vigilexd"
[ "$service_uid" -lt 1000 ] || fail "user vigilexd ($service_uid) is not a system user"
service_gid=$(in_root id -g vigilexd)
[ "$(in_root id -gn vigilexd)" = vigilexd ] || fail "user vigilexd's primary group is $(in_root id -gn vigilexd), not its own"
! in_root id -Gn vigilexd | grep -qw vigilex || fail "user vigilexd is in the members' group: $(in_root id -Gn vigilexd)"
[ "$(stat -c '%a %U %g' "$root$prefix/cfg")" = "1775 root $service_gid" ] ||
    fail "cfg/ is $(stat -c '%a %U %g' "$root$prefix/cfg"), want 1775 root $service_gid"
[ "$(stat -c '%a %u %g' "$root$prefix/log")" = "2750 $service_uid $gid" ] ||
    fail "log/ is $(stat -c '%a %u %g' "$root$prefix/log"), want 2750 $service_uid $gid"
[ "$(stat -c '%a %U %g' "$root$prefix/data")" = "2770 root $gid" ] ||
    fail "data/ is $(stat -c '%a %U %g' "$root$prefix/data"), want 2770 root $gid"
[ "$(stat -c '%U %a' "$root$prefix/cfg/vigilex.cfg")" = "root 644" ] || fail "the catalogue is not root's"
! getcap "$root$prefix/vigilex" "$root$prefix/vigilex-service" | grep -q cap_ || fail "a file carries a capability"
[ -L "$root/etc/systemd/system/multi-user.target.wants/vigilex.service" ] || fail "postinst did not enable the service"
for file in /usr/share/applications/vigilex.desktop /etc/xdg/autostart/vigilex.desktop \
    /usr/share/icons/hicolor/48x48/apps/vigilex.png; do
    [ -f "$root$file" ] || fail "$file not installed"
done
for rule in "$(source_dir)"/packaging/polkit/*.rules; do
    [ -f "$rule" ] || continue
    cmp -s "$rule" "$root/usr/share/polkit-1/rules.d/$(basename "$rule")" ||
        fail "polkit rule $(basename "$rule") not installed to /usr/share/polkit-1/rules.d"
done
[ -L "$root/etc/systemd/system/sockets.target.wants/vigilex.socket" ] || fail "postinst did not enable the socket"
pass "user vigilexd with a group of its own writes cfg/ (root's, sticky) and owns log/ (the group reads); group vigilex (gid $gid) writes data/; no file capability; socket and service enabled; menu, autostart and icon in place"

# Members of the group, not root: two unprivileged accounts join vigilex inside the sandbox, as an
# administrator's adduser would (the sandbox's /etc/group only).
uid=$(in_root id -u nobody)
for account in nobody daemon; do
    in_root adduser --quiet "$account" vigilex >/dev/null || fail "adduser $account vigilex failed"
done
mkdir -p "$root/tmp/run"
bash "$here/run_installed.sh" "$prefix" "$uid" "$gid" /tmp/run "$root" >"$scratch/run.log" 2>&1 ||
    fail "installed program run failed:
$(cat "$scratch/run.log")"
cat "$scratch/run.log"

# The service's user leaves a link where postinst expects the settings file; the reinstall's configure runs
# as root and must not act through it (it would make /etc/shadow the service's).
owner=(chroot "$root" setpriv --reuid="$service_uid" --regid="$service_gid" --clear-groups)
"${owner[@]}" ln -sf /etc/shadow "$prefix/cfg/settings.ini" || fail "the service's user could not plant the link"
shadow_before=$(stat -c '%a %U %G' "$root/etc/shadow")

# A day's log that a member made while log/ was the group's (as an earlier version allowed): configure hands
# it to the service, which would otherwise append to a file the member can truncate.
member_log="$root$prefix/log/20000101.log"
install -o "$uid" -g "$gid" -m 0660 /dev/null "$member_log"

# Reinstalling (as an upgrade does) replaces the program file, which drops its capability; the stored
# state must survive and the capability come back.
rows=$(sqlite3 "$root$prefix/cfg/vigilex.db" "select count(*) from snmp_event;")
in_root env DEBIAN_FRONTEND=noninteractive dpkg -i /tmp/vigilex.deb >"$scratch/dpkg-reinstall.log" 2>&1 ||
    fail "dpkg -i over the installed package failed: $(cat "$scratch/dpkg-reinstall.log")"
[ "$(sqlite3 "$root$prefix/cfg/vigilex.db" "select count(*) from snmp_event;")" = "$rows" ] ||
    fail "reinstalling lost stored events"
[ "$(stat -c '%a %u' "$root$prefix/cfg/vigilex.db")" = "600 $service_uid" ] || fail "reinstalling changed the database's mode"
[ "$(stat -c '%u %g %a' "$member_log")" = "$service_uid $gid 640" ] ||
    fail "configure left a member's day log as $(stat -c '%u %g %a' "$member_log")"
pass "reinstall keeps the $rows stored events and the database's owner and mode, and takes a member's day log back"
[ "$(stat -c '%a %U %G' "$root/etc/shadow")" = "$shadow_before" ] ||
    fail "postinst acted through the planted link: /etc/shadow is $(stat -c '%a %U %G' "$root/etc/shadow"), was $shadow_before"
[ -L "$root$prefix/cfg/settings.ini" ] || fail "postinst replaced the planted link instead of leaving it"
grep -q "cfg/settings.ini is not a plain file" "$scratch/dpkg-reinstall.log" ||
    fail "postinst did not say it left the link alone: $(cat "$scratch/dpkg-reinstall.log")"
[ "$(stat -c '%a %U' "$root$prefix/cfg")" = "1775 root" ] || fail "cfg/ is not as configure leaves it after the reinstall"
pass "a link planted in cfg/ by the service's user: configure leaves it and /etc/shadow ($shadow_before) alone"
rm -f "$root$prefix/cfg/settings.ini"

in_root dpkg -r vigilex >"$scratch/dpkg-remove.log" 2>&1 || fail "dpkg -r failed: $(cat "$scratch/dpkg-remove.log")"
[ ! -e "$root$prefix/vigilex" ] || fail "dpkg -r left the program"
[ ! -e "$root/usr/share/applications/vigilex.desktop" ] || fail "dpkg -r left the menu entry"
[ -f "$root$prefix/cfg/vigilex.db" ] || fail "dpkg -r deleted cfg/vigilex.db"
ls "$root$prefix"/log/*.log >/dev/null 2>&1 || fail "dpkg -r deleted the logs"
[ -f "$root/etc/xdg/autostart/vigilex.desktop" ] || fail "dpkg -r deleted the autostart conffile"
[ ! -e "$root/etc/systemd/system/multi-user.target.wants/vigilex.service" ] || fail "dpkg -r left the service enabled"
pass "dpkg -r removes the programs and the unit, keeps the cards, events, logs and the autostart conffile"

in_root dpkg -P vigilex >"$scratch/dpkg-purge.log" 2>&1 || fail "dpkg -P failed: $(cat "$scratch/dpkg-purge.log")"
[ ! -e "$root$prefix" ] || fail "dpkg -P left $prefix: $(ls -R "$root$prefix")"
[ ! -e "$root/etc/xdg/autostart/vigilex.desktop" ] || fail "dpkg -P left the autostart entry"
pass "dpkg -P deletes $prefix with everything stored"
echo "test_install: all checks passed"
