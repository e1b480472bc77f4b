#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#
#   scripts/test.sh [ctest options]             the ordinary build in build/
#   scripts/test.sh --sanitize [ctest options]  the same tests built with AddressSanitizer and
#                                               UndefinedBehaviorSanitizer in build-asan/; any
#                                               sanitizer report fails
#   scripts/test.sh --fuzz                      the libFuzzer targets (clang) in build-fuzz/, each
#                                               run for SKYJOG_FUZZ_SECONDS (default 60)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Besides building and running: a virtual X server and X input for the end-to-end tests, INDI's
# driver and libnexstar as independent clients of the simulator, clang (with its sanitizer and
# fuzzer runtimes) for --sanitize and --fuzz.
SKYJOG_PACKAGES="xvfb xauth xdotool x11-utils libx11-dev fonts-dejavu-core openbox indi-bin libnexstar-dev
    clang libclang-rt-14-dev ${SKYJOG_PACKAGES:-}"

mode=plain
case "${1:-}" in
--sanitize | --fuzz)
    mode=${1#--}
    shift
    ;;
esac

case $mode in
sanitize)
    BUILD_DIR=${BUILD_DIR:-$root/build-asan}
    # clang: its combined runtime writes UndefinedBehaviorSanitizer's reports to log_path too
    # (gcc's prints them on standard error only), so no report from any process goes unseen.
    CMAKE_EXTRA="-DSKYJOG_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ ${CMAKE_EXTRA:-}"
    ;;
fuzz)
    BUILD_DIR=${BUILD_DIR:-$root/build-fuzz}
    CMAKE_EXTRA="-DSKYJOG_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ ${CMAKE_EXTRA:-}"
    BUILD_TARGETS=fuzzers
    ;;
esac

source "$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"

case $mode in
plain)
    ctest --output-on-failure -j 2 --timeout 300 "$@"
    ;;

sanitize)
    # Every report stops the program that made it; reports also go to files, so that one made by
    # a helper process a test starts (the simulator) fails the run even if the test passes.
    reports=$BUILD_DIR/sanitizer-reports
    rm -rf "$reports"
    mkdir -p "$reports"
    export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:check_initialization_order=1:log_path=$reports/asan"
    export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
    # Leaks inside system libraries (never our code) are listed in the suppressions file.
    export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
    status=0
    ctest --output-on-failure -j 2 --timeout 600 "$@" || status=$?
    # A file may also hold only the statistics of suppressions used, which is no report.
    found=$(grep -l -E 'ERROR: |SUMMARY: |runtime error' "$reports"/* 2>/dev/null || true)
    if [ -n "$found" ]; then
        echo "Sanitizer reports:"
        for f in $found; do
            echo "=== $f"
            cat "$f"
        done
        status=1
    fi
    exit $status
    ;;

fuzz)
    seconds=${SKYJOG_FUZZ_SECONDS:-60}
    # No allocation stacks: Qt's libraries have no frame pointers, so the fast unwinder finds a
    # different "stack" for nearly every allocation and the sanitizer's store of them grows
    # without end (the program's own heap stays flat), until the run passes its memory limit.
    export ASAN_OPTIONS=malloc_context_size=0
    for target in settings_line position_reply sim_framing; do
        # Fuzz a scratch copy: the seed corpus in the tree only changes by hand.
        work=$BUILD_DIR/fuzz-run/$target
        rm -rf "$work"
        mkdir -p "$work/corpus" "$work/artifacts"
        find "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target" \
            -type f ! -name '.*' -exec cp {} "$work/corpus/" \;
        echo "Fuzzing $target for $seconds s"
        if ! "$BUILD_DIR/fuzz_$target" -max_total_time="$seconds" -timeout=10 -max_len=1024 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
            >"$work/log.txt" 2>&1; then
            tail -n 60 "$work/log.txt"
            echo "fuzz_$target failed; the input is in $work/artifacts/"
            exit 1
        fi
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' \
            "$work/log.txt" || true
    done
    ;;
esac
