#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test through ctest. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
# Paths in the compiler cache are taken relative to the checkout, and the build folder is left
# out of its keys, so that another clone reuses what this one compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
build=${MIRV_TEST_BUILD:-build-san}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMIRV_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Tests note here the PIDs of the programs they start outside their own process tree (the
# offices an export starts), so that one a crashed test left behind can be ended by its PID.
export MIRV_TEST_PIDS=$PWD/$build/started-pids
: > "$MIRV_TEST_PIDS"
cd "$build"
status=0
# Labels pick a part: MIRV_TEST_LABELS=unit ./test.sh runs the quick tests (see tests/CMakeLists.txt);
# the package test among them builds, installs and purges the Debian package (root only).
ctest --output-on-failure -j"$(nproc)" --timeout 300 ${MIRV_TEST_LABELS:+-L "$MIRV_TEST_LABELS"} || status=$?
end_tree() {
    local pid=$1 child
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do end_tree "$child"; done
    kill -KILL "$pid" 2>/dev/null || true
}
while read -r pid; do
    # A PID that was ended and taken by some other program since is left alone.
    [ -n "$pid" ] && [ -r /proc/"$pid"/cmdline ] &&
        tr '\0' ' ' < /proc/"$pid"/cmdline 2>/dev/null | grep -q office && end_tree "$pid"
done < "$MIRV_TEST_PIDS"
exit $status
