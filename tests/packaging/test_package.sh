#!/bin/bash
# Builds the Debian package from the already built tree and checks what it holds and declares: contents,
# modes, desktop entries, control fields, maintainer scripts and a hardened program. Runs nothing of the
# package: the maintainer scripts and the installed program run only inside the sandbox of test_install.
#
# test_package.sh BUILD_DIR
# Never touches the real root: the package is only listed and unpacked (dpkg-deb -c, -x) into a scratch tree.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"

prefix=$(cache_value "$build" CMAKE_INSTALL_PREFIX)
[ -n "$prefix" ] || fail "no CMAKE_INSTALL_PREFIX in $build/CMakeCache.txt"
group=$(cache_value "$build" VIGILEX_GROUP)
service_user=$(cache_value "$build" VIGILEX_SERVICE_USER)
[ -x "$build/bin/vigilex" ] || fail "the program is not built: $build/bin/vigilex"

make_scratch vigilex-pkgtest
scratch=$SCRATCH

# --- the package, from the binaries as built (no rebuild inside the test) ---
deb=$(build_package "$build" "$scratch/out")
pass "package built: $(basename "$deb")"

# --- contents ---
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' >"$scratch/contents"
expect_path() { grep -qx -- "$1" "$scratch/contents" || fail "package lacks $1"; }
for path in "$prefix/vigilex" "$prefix/vigilex-service" "$prefix/vigilex-crashbox" "$prefix/cfg/vigilex.cfg" \
    "$prefix/translate/en.qm" /lib/systemd/system/vigilex.service /lib/systemd/system/vigilex.socket \
    /usr/share/dbus-1/system.d/org.vigilex.Protection1.conf \
    /usr/share/polkit-1/actions/org.vigilex.protection1.policy \
    "$prefix/translate/zh.qm" "$prefix/log" "$prefix/data" /usr/share/applications/vigilex.desktop \
    /etc/xdg/autostart/vigilex.desktop /usr/share/icons/hicolor/48x48/apps/vigilex.png \
    /usr/share/icons/hicolor/16x16/apps/vigilex.png /usr/share/icons/hicolor/256x256/apps/vigilex.png; do
    expect_path "$path"
done
# The shutdown permission rule, when the tree ships one.
for rule in "$(source_dir)"/packaging/polkit/*.rules; do
    [ -f "$rule" ] || continue
    expect_path "/usr/share/polkit-1/rules.d/$(basename "$rule")"
    pass "contents: polkit rule $(basename "$rule")"
done
if [ -f "$(source_dir)/image/shield.svg" ]; then
    expect_path /usr/share/icons/hicolor/scalable/apps/vigilex.svg
fi
pass "contents: window, service with its unit and socket, bus policy and polkit action, crash box, catalogue, translations, log/ and data/, menu and autostart entries, icons"

# Only the program's own tree and the desktop integration; the demo build (no real shutdown) never ships,
# and neither do tests, tools or anything the program writes at run time.
stray=$(grep -v -e "^$prefix\(/\|\$\)" -e '^/usr/share/applications' -e '^/usr/share/icons' \
    -e '^/usr/share/polkit-1' -e '^/etc/xdg/autostart' -e '^/$' -e '^/usr$' -e '^/usr/share$' -e '^/etc$' \
    -e '^/etc/xdg$' -e '^/opt$' -e '^/usr/share/dbus-1' -e '^/lib$' -e '^/lib/systemd' "$scratch/contents" || true)
[ -z "$stray" ] || fail "package holds files outside its places: $stray"
for bad in vigilex-demo vigilex.db settings.ini '\.log$' upssim tst_ test_; do
    ! grep -q -- "$bad" "$scratch/contents" || fail "package holds $(grep -- "$bad" "$scratch/contents" | head -1)"
done
pass "contents: nothing stray (no demo build, no tests, no run-time files)"

# No file carries a capability: systemd binds the trap port for the service.
mode=$(dpkg-deb -c "$deb" | awk -v p="./${prefix#/}/vigilex-service" '$6 == p {print $1}')
[ "$mode" = "-rwxr-xr-x" ] || fail "the service is $mode in the package, want -rwxr-xr-x"
pass "the service is 0755 in the package"

mkdir -p "$scratch/root"
dpkg -x "$deb" "$scratch/root"
inst="$scratch/root$prefix"
cmp -s "$inst/cfg/vigilex.cfg" "$(source_dir)/cfg/vigilex.cfg" || fail "installed catalogue differs from cfg/vigilex.cfg"
cmp -s "$inst/translate/zh.qm" "$build/bin/translate/zh.qm" || fail "installed zh.qm differs from the built one"
file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png" | grep -q '^PNG image data, 48 x 48' ||
    fail "48x48 icon is not a 48x48 PNG: $(file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png")"
pass "unpacked files match the built ones; icon is a 48x48 PNG"

# --- the service's units, checked by systemd itself against the unpacked tree ---
unit="$scratch/root/lib/systemd/system/vigilex.service"
socket="$scratch/root/lib/systemd/system/vigilex.socket"
for pair in "ExecStart=$prefix/vigilex-service" "User=$(cache_value "$build" VIGILEX_SERVICE_USER)" \
    "Group=$(cache_value "$build" VIGILEX_SERVICE_USER)" "Type=dbus" "BusName=org.vigilex.Protection1" \
    "Requires=dbus.service" "Wants=network-online.target vigilex.socket" \
    "After=network-online.target dbus.service vigilex.socket" "WorkingDirectory=/" "CapabilityBoundingSet=" \
    "NoNewPrivileges=yes" "ProtectSystem=strict" "ProtectHome=yes" "PrivateTmp=yes" \
    "ReadWritePaths=$prefix/cfg $prefix/log" "StartLimitIntervalSec=120" "StartLimitBurst=5" "RestartSec=5" \
    "WantedBy=multi-user.target" "Also=vigilex.socket"; do
    grep -qxF -- "$pair" "$unit" || fail "vigilex.service: want $pair"
done
# Not a single capability: none ambient or inheritable, an empty bounding set, and data/ is not the service's.
! grep -Eq '^(AmbientCapabilities|Capabilities)=' "$unit" || fail "vigilex.service grants a capability: $(grep -E 'Capabilities=' "$unit")"
[ "$(grep -c '^CapabilityBoundingSet=' "$unit")" = 1 ] || fail "vigilex.service: more than one CapabilityBoundingSet= line"
! grep -q "^ReadWritePaths=.*$prefix/data" "$unit" || fail "vigilex.service may write data/"
# A crash loop must reach the start limit: more starts than the burst fit into the interval.
restart=$(sed -n 's/^RestartSec=//p' "$unit")
[ $((5 * restart)) -lt 120 ] || fail "with RestartSec=$restart five starts do not fit into 120 s"
# Two sockets: the IPv4 transport takes only an IPv4 one, so no single dual-stack [::]:162.
for pair in "ListenDatagram=0.0.0.0:162" "ListenDatagram=[::1]:162" "BindIPv6Only=ipv6-only" "WantedBy=sockets.target"; do
    grep -qxF -- "$pair" "$socket" || fail "vigilex.socket: want $pair"
done
[ "$(grep -c '^Listen' "$socket")" = 2 ] || fail "vigilex.socket listens on more than the two trap sockets"
if command -v systemd-analyze >/dev/null 2>&1; then
    # The unit names the installed program; a copy that names the unpacked one is checked against this
    # machine's systemd units (the user need not exist here: systemd resolves it only at start).
    mkdir -p "$scratch/unit"
    sed "s|$prefix/|$inst/|g" "$unit" >"$scratch/unit/vigilex.service"
    cp "$socket" "$scratch/unit/vigilex.socket"
    if ! systemd-analyze verify --man=no "$scratch/unit/vigilex.socket" "$scratch/unit/vigilex.service" \
        >"$scratch/verify.log" 2>&1 || grep -q 'vigilex\.s' "$scratch/verify.log"; then
        fail "systemd-analyze verify: $(cat "$scratch/verify.log")"
    fi
    pass "systemd-analyze verify accepts vigilex.socket and vigilex.service"
    if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
        systemd-analyze security --offline=yes "$scratch/unit/vigilex.service" >"$scratch/security.log" 2>&1 ||
            fail "systemd-analyze security: $(tail -5 "$scratch/security.log")"
        exposure=$(sed -n 's/.*Overall exposure level for vigilex\.service: \([0-9][0-9]*\.[0-9]\).*/\1/p' \
            "$scratch/security.log")
        [ -n "$exposure" ] || fail "systemd-analyze security printed no overall exposure: $(tail -5 "$scratch/security.log")"
        awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
            fail "vigilex.service is rated $exposure by systemd-analyze security, want 2.0 or less: $(grep '✗' "$scratch/security.log")"
        pass "systemd-analyze security rates vigilex.service $exposure (2.0 or less)"
    else
        echo "SKIP: this systemd-analyze has no security --offline"
    fi
fi
if command -v xmllint >/dev/null 2>&1; then
    xmllint --noout "$scratch/root/usr/share/dbus-1/system.d/org.vigilex.Protection1.conf" \
        "$scratch/root/usr/share/polkit-1/actions/org.vigilex.protection1.policy" || fail "bus policy or polkit action is not XML"
fi
grep -q "<policy group=\"$group\">" "$scratch/root/usr/share/dbus-1/system.d/org.vigilex.Protection1.conf" ||
    fail "the bus policy does not let the group call the service"
pass "units: the service's user without any capability, in /, sandboxed, the trap port bound by vigilex.socket; bus policy for root and group $group"
# polkitd answers the service for its callers only when the service's user owns the actions.
actions="$scratch/root/usr/share/polkit-1/actions/org.vigilex.protection1.policy"
[ "$(grep -c '<action id=' "$actions")" = 2 ] && grep -q 'id="org.vigilex.protection1.configure-application"' "$actions" ||
    fail "the polkit actions are not configure and configure-application"
[ "$(grep -c "<annotate key=\"org.freedesktop.policykit.owner\">unix-user:$service_user</annotate>" "$actions")" = 2 ] ||
    fail "not every polkit action is owned by unix-user:$service_user"
grep -q '<deny receive_sender="org.vigilex.Protection1" receive_type="signal"/>' \
    "$scratch/root/usr/share/dbus-1/system.d/org.vigilex.Protection1.conf" ||
    fail "the bus policy lets everyone hear the service's signals"
pass "polkit actions owned by $service_user; the service's signals only for root, $service_user and $group"

# Debian's hardening flags: PIE, full RELRO with immediate binding, stack protector, fortified calls.
program="$inst/vigilex"
elf=$(readelf -h -l -d --dyn-syms -W "$program")
grep -q 'Type: *DYN' <<<"$elf" || fail "the program is not position-independent"
grep -q GNU_RELRO <<<"$elf" || fail "the program has no RELRO segment"
grep -Eq 'BIND_NOW|FLAGS_1.*NOW' <<<"$elf" || fail "the program does not bind at load time"
grep -q '__stack_chk_fail' <<<"$elf" || fail "the program has no stack protector"
grep -Eq '__[a-z_]+_chk@' <<<"$elf" || fail "the program calls no fortified function"
pass "hardened: PIE, full RELRO, immediate binding, stack protector, fortified libc calls"

# --- desktop entries ---
check_entry() {
    local file=$1 key value
    shift
    for pair in "$@"; do
        key=${pair%%=*}
        value=${pair#*=}
        grep -qx -- "$key=$value" "$file" || fail "$(basename "$(dirname "$file")")/$(basename "$file"): want $key=$value"
    done
}
menu="$scratch/root/usr/share/applications/vigilex.desktop"
autostart="$scratch/root/etc/xdg/autostart/vigilex.desktop"
check_entry "$menu" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "Categories=System;Monitor;" "Terminal=false"
# TryExec: a session of a user outside the group, who may not execute the program, starts nothing.
check_entry "$autostart" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "TryExec=$prefix/vigilex"
# The window's crash dumps and log find their own place; it is not started in the service's log/.
! grep -q "^Path=$prefix/log" "$menu" "$autostart" || fail "a desktop entry starts the window in log/"
# A user turns autostart off with Hidden=true in a copy; the system-wide entry must not do so itself.
! grep -q '^Hidden=true' "$autostart" || fail "autostart entry is hidden"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$menu" || fail "menu entry does not validate"
    desktop-file-validate "$autostart" || fail "autostart entry does not validate"
fi
pass "menu entry and autostart entry name the installed program and the themed icon"

# --- control fields ---
depends=$(dpkg-deb -f "$deb" Depends)
for pkg in libqt5widgets5 libqt5gui5 libqt5core5a libqt5sql5 libqt5sql5-sqlite libqt5dbus5 libqt5network5 \
    libsnmp40 libxlsxwriter4 adduser init-system-helpers; do
    grep -Eq "(^|, )$pkg( |,|$)" <<<"$depends" || fail "Depends lacks $pkg: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = vigilex ] || fail "package name is $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$(cache_value "$build" CMAKE_PROJECT_VERSION)" ] ||
    fail "version $(dpkg-deb -f "$deb" Version) is not the project's"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "wrong architecture"
pass "Depends: $depends"

# --- maintainer scripts ---
mkdir -p "$scratch/control"
dpkg-deb -e "$deb" "$scratch/control"
for script in postinst prerm postrm; do
    [ -x "$scratch/control/$script" ] || fail "$script missing or not executable"
    sh -n "$scratch/control/$script" || fail "$script has a syntax error"
done
grep -q 'adduser --quiet --system --ingroup' "$scratch/control/postinst" || fail "postinst does not create the service's user"
{ grep -q 'deb-systemd-helper enable' "$scratch/control/postinst" && grep -q 'vigilex\.service' "$scratch/control/postinst"; } ||
    fail "postinst does not enable the service"
grep -q 'deb-systemd-invoke stop vigilex.socket vigilex.service' "$scratch/control/prerm" ||
    fail "prerm does not stop the service and its socket"
grep -qx "prefix=\"$prefix\"" "$scratch/control/postinst" || fail "postinst is not for prefix $prefix"
grep -q 'addgroup --quiet --system "$group"' "$scratch/control/postinst" || fail "postinst does not create the group"
[ "$(cat "$scratch/control/conffiles" 2>/dev/null)" = /etc/xdg/autostart/vigilex.desktop ] ||
    fail "the autostart entry is not a conffile: $(cat "$scratch/control/conffiles" 2>&1)"
pass "maintainer scripts present, executable, create group $group and the service's user, enable, start and stop the service; autostart is a conffile"

echo "test_package: all checks passed"
