#!/bin/bash
# Builds the Debian package from the already built tree, checks what it holds and declares, runs its
# maintainer scripts against a scratch copy, and starts the unpacked program there as an unprivileged
# member of the stand-in group: it must write its start lines, hold the trap port 162 through the file
# capability alone, and keep its database and settings away from others.
#
# test_package.sh BUILD_DIR
# Never touches the real root: the package is unpacked with dpkg -x, the maintainer scripts are rewritten to
# the scratch prefix and an existing group, and the program runs in a network namespace of its own.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"

prefix=$(cache_value "$build" CMAKE_INSTALL_PREFIX)
[ -n "$prefix" ] || fail "no CMAKE_INSTALL_PREFIX in $build/CMakeCache.txt"
group=$(cache_value "$build" VIGILEX_GROUP)
[ -x "$build/bin/vigilex" ] || fail "the program is not built: $build/bin/vigilex"

make_scratch vigilex-pkgtest
scratch=$SCRATCH

# --- the package, from the binaries as built (no rebuild inside the test) ---
deb=$(build_package "$build" "$scratch/out")
pass "package built: $(basename "$deb")"

# --- contents ---
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' >"$scratch/contents"
expect_path() { grep -qx -- "$1" "$scratch/contents" || fail "package lacks $1"; }
for path in "$prefix/vigilex" "$prefix/vigilex-crashbox" "$prefix/cfg/vigilex.cfg" "$prefix/translate/en.qm" \
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
pass "contents: program, crash box, catalogue, both translations, log/ and data/, menu and autostart entries, icons"

# Only the program's own tree and the desktop integration; the demo build (no real shutdown) never ships,
# and neither do tests, tools or anything the program writes at run time.
stray=$(grep -v -e "^$prefix\(/\|\$\)" -e '^/usr/share/applications' -e '^/usr/share/icons' \
    -e '^/usr/share/polkit-1' -e '^/etc/xdg/autostart' -e '^/$' -e '^/usr$' -e '^/usr/share$' -e '^/etc$' \
    -e '^/etc/xdg$' -e '^/opt$' "$scratch/contents" || true)
[ -z "$stray" ] || fail "package holds files outside its places: $stray"
for bad in vigilex-demo vigilex.db settings.ini '\.log$' upssim tst_ test_; do
    ! grep -q -- "$bad" "$scratch/contents" || fail "package holds $(grep -- "$bad" "$scratch/contents" | head -1)"
done
pass "contents: nothing stray (no demo build, no tests, no run-time files)"

mkdir -p "$scratch/root"
dpkg -x "$deb" "$scratch/root"
inst="$scratch/root$prefix"
cmp -s "$inst/cfg/vigilex.cfg" "$(source_dir)/cfg/vigilex.cfg" || fail "installed catalogue differs from cfg/vigilex.cfg"
cmp -s "$inst/translate/zh.qm" "$build/bin/translate/zh.qm" || fail "installed zh.qm differs from the built one"
file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png" | grep -q '^PNG image data, 48 x 48' ||
    fail "48x48 icon is not a 48x48 PNG: $(file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png")"
pass "unpacked files match the built ones; icon is a 48x48 PNG"

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
# Started in log/, the one place a group member may write, so that a crash dump is not lost.
check_entry "$menu" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "Categories=System;Monitor;" "Terminal=false" "Path=$prefix/log"
check_entry "$autostart" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "Path=$prefix/log"
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
    libsnmp40 libxlsxwriter4 libcap2-bin adduser; do
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
grep -q "setcap cap_net_bind_service=+ep \"\$prefix/vigilex\"" "$scratch/control/postinst" ||
    fail "postinst does not grant the trap-port capability"
grep -qx "prefix=\"$prefix\"" "$scratch/control/postinst" || fail "postinst is not for prefix $prefix"
grep -q 'addgroup --quiet --system "$group"' "$scratch/control/postinst" || fail "postinst does not create the group"
[ "$(cat "$scratch/control/conffiles" 2>/dev/null)" = /etc/xdg/autostart/vigilex.desktop ] ||
    fail "the autostart entry is not a conffile: $(cat "$scratch/control/conffiles" 2>&1)"
pass "maintainer scripts present, executable, grant cap_net_bind_service and create group $group; autostart is a conffile"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the rest needs root (chown, setcap, network namespace)"
    exit 77
fi

# The scripts run for real, against the scratch tree and a group that already exists: nothing in the
# machine's root and no new group.
# "users" stands in for the program's group; nobody joins it only for the run (setpriv --groups).
standin=users
getent group "$standin" >/dev/null || fail "no group $standin to stand in for $group"
for script in postinst prerm postrm; do
    sed -e "s|^prefix=\".*\"|prefix=\"$inst\"|" -e "s|^group=\".*\"|group=\"$standin\"|" \
        "$scratch/control/$script" >"$scratch/$script"
done
sh "$scratch/postinst" configure >"$scratch/postinst.log" 2>&1 || fail "postinst configure failed: $(cat "$scratch/postinst.log")"
for dir in cfg log data; do
    [ "$(stat -c '%a %U %G' "$inst/$dir")" = "2770 root $standin" ] ||
        fail "$dir/ is $(stat -c '%a %U %G' "$inst/$dir") after postinst, want 2770 root $standin"
done
getcap "$inst/vigilex" | grep -q 'cap_net_bind_service[=+]*ep' || fail "postinst left no capability: $(getcap "$inst/vigilex")"
pass "postinst: cfg/ log/ data/ are 2770 root:$standin, the program holds cap_net_bind_service"

# --- the unpacked program, as a group member without root ---
uid=$(id -u nobody)
gid=$(getent group "$standin" | cut -d: -f3)
mkdir -p "$scratch/home" "$scratch/runtime"
chown "$uid:$gid" "$scratch/home" "$scratch/runtime"
chmod 0700 "$scratch/runtime"
unshare -n bash "$here/run_installed.sh" "$inst" "$uid" "$gid" "$scratch" >"$scratch/run.log" 2>&1 ||
    fail "installed program run failed:
$(cat "$scratch/run.log")"
cat "$scratch/run.log"

# --- remove keeps the stored state, purge deletes it ---
sh "$scratch/prerm" remove || fail "prerm remove failed"
sh "$scratch/postrm" remove || fail "postrm remove failed"
for file in cfg/vigilex.db cfg/settings.ini; do
    [ -f "$inst/$file" ] || fail "postrm remove deleted $file"
done
[ -d "$inst/log" ] && [ -d "$inst/data" ] || fail "postrm remove deleted log/ or data/"
sh "$scratch/postrm" purge || fail "postrm purge failed"
for dir in cfg log data; do
    [ ! -e "$inst/$dir" ] || fail "postrm purge left $dir/"
done
pass "remove keeps cfg/ log/ data/; purge deletes them"
echo "test_package: all checks passed"
