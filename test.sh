#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test through ctest. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
build=${MIRV_TEST_BUILD:-build-san}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMIRV_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
status=0
ctest --output-on-failure -j"$(nproc)" --timeout 300 || status=$?
# An office left behind by a test that crashed before it could end it.
pkill -f 'UserInstallation=file://.*/mirv-test-' 2>/dev/null || true
exit $status
