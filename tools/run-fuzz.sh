#!/bin/sh
# Builds the libFuzzer targets of tests/fuzz with clang, ASan and UBSan in a build
# folder of their own and runs each for a bounded time from its seed corpus.
# Fails on any crash, leak, time-out (10 s per input) or input above 2 GiB of memory.
#   TILEWRIGHT_FUZZ_SECONDS   seconds per target (default 60)
#   TILEWRIGHT_FUZZ_BUILD     build folder (default build-fuzz beside the sources)
# New inputs the fuzzer finds go to the build folder, never into the seed corpus;
# a failing input is kept there as crash-*, leak-* or timeout-* and named in the log.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TILEWRIGHT_FUZZ_BUILD:-$top/build-fuzz}
seconds=${TILEWRIGHT_FUZZ_SECONDS:-60}
targets="dgmlreader tilecontent answerheaders credentialcipher"

launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}"
    export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
# shellcheck disable=SC2086 # $launcher is two separate options or nothing
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEWRIGHT_FUZZ=ON \
    -DTILEWRIGHT_BUILD_TESTS=OFF -DTILEWRIGHT_BUILD_BENCH=OFF -DTILEWRIGHT_WERROR=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $launcher >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions="$top/tests/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary=""
failed=""
for target in $targets; do
    work="$build/fuzz/$target"
    mkdir -p "$work/corpus"
    log="$work/fuzz.log"
    echo "fuzz_$target: $seconds s"
    if "$build/fuzz-bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$top/tests/fuzz/corpus/$target" \
        >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        failed="$failed $target"
        tail -n 60 "$log" >&2
    fi
    # libFuzzer's last status line: "#runs DONE cov: N ft: N corp: ..."
    last=$(grep -a -E '^#[0-9]+' "$log" | tail -n 1 || true)
    runs=$(grep -a -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' || true)
    summary="$summary
fuzz_$target: $result, ${runs:-?} executions; $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+' || echo 'no coverage line')"
done
echo "$summary"
if [ -n "$failed" ]; then
    echo "run-fuzz.sh: failed:$failed (inputs and logs in $build/fuzz/)" >&2
    exit 1
fi
