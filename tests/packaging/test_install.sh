#!/bin/bash
# The package as dpkg installs it: dpkg -i, remove and purge run for real, maintainer scripts, triggers and
# all, but inside a copy-on-write view of this machine (an overlay over / in a mount namespace of the test's
# own, on a tmpfs that vanishes with it). The machine's real root, groups and dpkg database stay untouched.
#
# test_install.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root (mount namespace, overlay, chroot)"
    exit 77
fi
grep -qw overlay /proc/filesystems || { echo "SKIP: the kernel has no overlay file system"; exit 77; }
[ -x "$build/bin/vigilex" ] || fail "the program is not built: $build/bin/vigilex"

make_scratch vigilex-installtest
deb=$(build_package "$build" "$SCRATCH/out")
pass "package built: $(basename "$deb")"

# Everything else happens in the namespaces; when they end, the overlay and whatever dpkg wrote are gone.
# The scratch directory is removed out here, afterwards, where nothing of theirs is mounted.
status=0
unshare --mount --propagation private --net --pid --fork --kill-child --mount-proc \
    bash "$here/run_install.sh" "$build" "$deb" "$SCRATCH" || status=$?
exit $status
