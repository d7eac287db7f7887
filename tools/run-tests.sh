#!/bin/sh
# Installs what the build and the tests need, then builds and runs every test:
#   1. the normal build with all tests,
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build with all tests,
#   3. a ThreadSanitizer build of the tests of the worker threads (copy, transfers, writer).
# The tests start and stop their own nginx and MapProxy servers on loopback.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/tools/install-deps.sh" --tests

run_suite() {
    dir=$1; shift
    cmake -S "$top" -B "$dir" -G Ninja -DTILEWRIGHT_BUILD_BENCH=OFF -DTILEWRIGHT_WERROR=ON "$@"
    cmake --build "$dir" -j"$jobs"
}

run_suite "$top/build-tests" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$top/build-tests" && ctest --output-on-failure -j"$jobs")

run_suite "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTILEWRIGHT_SANITIZE=ON
(cd "$top/build-asan" && \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$jobs")

run_suite "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DTILEWRIGHT_TSAN=ON
(cd "$top/build-tsan" && \
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp" \
    ctest --output-on-failure -j"$jobs" -L threads)
