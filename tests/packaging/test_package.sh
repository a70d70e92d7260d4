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

# The program holds the trap-port capability: root and the group only (postinst hands it to the group).
mode=$(dpkg-deb -c "$deb" | awk -v p="./${prefix#/}/vigilex" '$6 == p {print $1}')
[ "$mode" = "-rwxr-x---" ] || fail "the program is $mode in the package, want -rwxr-x---"
pass "the program is 0750 in the package; others cannot execute it"

mkdir -p "$scratch/root"
dpkg -x "$deb" "$scratch/root"
inst="$scratch/root$prefix"
cmp -s "$inst/cfg/vigilex.cfg" "$(source_dir)/cfg/vigilex.cfg" || fail "installed catalogue differs from cfg/vigilex.cfg"
cmp -s "$inst/translate/zh.qm" "$build/bin/translate/zh.qm" || fail "installed zh.qm differs from the built one"
file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png" | grep -q '^PNG image data, 48 x 48' ||
    fail "48x48 icon is not a 48x48 PNG: $(file -b "$scratch/root/usr/share/icons/hicolor/48x48/apps/vigilex.png")"
pass "unpacked files match the built ones; icon is a 48x48 PNG"

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
# Started in log/, the one place a group member may write, so that a crash dump is not lost.
check_entry "$menu" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "Categories=System;Monitor;" "Terminal=false" "Path=$prefix/log"
# TryExec: a session of a user outside the group, who may not execute the program, starts nothing.
check_entry "$autostart" "Type=Application" "Name=SNMP Vigilex" "Exec=$prefix/vigilex" "Icon=vigilex" \
    "Path=$prefix/log" "TryExec=$prefix/vigilex"
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

echo "test_package: all checks passed"
