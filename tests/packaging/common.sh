# Shared by the packaging and demo tests: reporting, scratch directories, reading the build's cache, and
# building the package from an already built tree.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
pass() { echo "PASS: $*"; }

source_dir() { cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd; }

# cache_value BUILD NAME: a variable of the build's CMake cache.
cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1; }

# make_scratch NAME: sets SCRATCH to a new directory that an unprivileged user can reach, removed when the
# test ends. Under /tmp rather than the build tree, whose parents may be closed to others.
scratch_dirs=()
cleanup_scratch() {
    local dir
    for dir in "${scratch_dirs[@]}"; do
        # Never across a mount point: a test's namespace may still have something mounted inside.
        [ -n "$dir" ] && rm -rf --one-file-system -- "$dir"
    done
}
make_scratch() {
    SCRATCH=$(mktemp -d "/tmp/$1.XXXXXX")
    chmod 0755 "$SCRATCH"
    scratch_dirs+=("$SCRATCH")
}
trap cleanup_scratch EXIT

# build_package BUILD OUTDIR: runs CPack with the build's own package configuration, but installs through
# the build's install script instead of letting CPack rebuild the tree first (the tests run beside each
# other, and a build inside a test would race with them). Prints the path of the .deb.
build_package() {
    local build=$1 out=$2
    mkdir -p "$out"
    cat >"$out/cpack-config.cmake" <<CONFIG
include("$build/CPackConfig.cmake")
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALL_SCRIPTS "$build/cmake_install.cmake")
set(CPACK_PACKAGE_DIRECTORY "$out")
CONFIG
    if ! timeout 120 cpack --config "$out/cpack-config.cmake" -G DEB >"$out/cpack.log" 2>&1; then
        cat "$out/cpack.log" >&2
        fail "cpack failed"
    fi
    local deb
    deb=$(find "$out" -maxdepth 1 -name 'vigilex_*.deb' | head -n 1)
    [ -n "$deb" ] || fail "cpack wrote no vigilex_*.deb: $(cat "$out/cpack.log")"
    echo "$deb"
}
