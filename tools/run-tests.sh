#!/bin/sh
# Installs what the build and the tests need, then builds and runs every test; any
# user may run it once the packages are there (tools/install-deps.sh says what is missing):
#   1. the normal build with all tests, among them the package's: CPack makes the
#      Debian package of that build, lintian, desktop-file-validate and appstreamcli
#      check it, and the program starts from an unpacked copy as an unprivileged user,
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build with all tests,
#   3. a ThreadSanitizer build of the tests of the worker threads (copy, transfers, writer),
#   4. the fuzz targets in a clang build, each run for a bounded time (tools/run-fuzz.sh;
#      TILEWRIGHT_FUZZ_SECONDS, default 60 per target).
# The tests start and stop their own nginx and MapProxy servers on loopback.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/check-includes.sh"
jobs=$(nproc)
"$top/tools/install-deps.sh" --tests

# Compilations go through ccache when it is there, so a second run on the same machine
# (build folders removed or a fresh clone at the same place) compiles only what changed.
# Paths below the checkout are hashed relative to it, so a clone in another folder still
# reuses every compilation whose command line names no build path.
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}"
    export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi

run_suite() {
    dir=$1; shift
    # shellcheck disable=SC2086 # $launcher is two separate options or nothing
    cmake -S "$top" -B "$dir" -G Ninja -DTILEWRIGHT_BUILD_BENCH=OFF -DTILEWRIGHT_WERROR=ON \
        $launcher "$@"
    cmake --build "$dir" -j"$jobs"
}

run_suite "$top/build-tests" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$top/build-tests" && ctest --output-on-failure -j"$jobs")

run_suite "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTILEWRIGHT_SANITIZE=ON
(cd "$top/build-asan" && \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$jobs" -LE package)

run_suite "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DTILEWRIGHT_TSAN=ON
(cd "$top/build-tsan" && \
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp" \
    ctest --output-on-failure -j"$jobs" -L threads)

TILEWRIGHT_FUZZ_BUILD="$top/build-fuzz" "$top/tools/run-fuzz.sh"
