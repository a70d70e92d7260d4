#!/bin/bash
# The demo path end to end: simulated card and demo program in a throwaway directory, inside network and
# process namespaces of the test's own (loopback only; everything started dies with the namespace).
#
# test_demo.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/common.sh
. "$here/common.sh"

demo="$build/bin/vigilex-demo"
[ -x "$demo" ] || fail "the demo program is not built: $demo"
# Never start a build that could ask logind for real: the recorder must be compiled in.
grep -q "recorded, not performed" "$demo" || fail "$demo has no shutdown recorder; refusing to run it"
for tool in python3 snmpd snmpset snmptrap sqlite3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps)"
done
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root for a network namespace of its own"
    exit 77
fi

make_scratch vigilex-demotest
exec unshare --net --pid --fork --kill-child --mount-proc bash "$here/run_demo.sh" "$build" "$SCRATCH"
