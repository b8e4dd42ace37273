#!/bin/sh
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then builds it with ThreadSanitizer and runs the tests
# again. The ThreadSanitizer run takes the whole suite too: nearly every test
# drives the parallel loops, through the library or through the tool, and
# the few that do not take a second. Sanitizers do not recover, so any
# report fails its test and the run.
# Usage: scripts/sanitize.sh [address|thread|all]
set -eu
cd "$(dirname "$0")/.."
what="${1:-all}"
jobs=$(nproc 2>/dev/null || echo 2)
scripts/install-deps.sh sanitize

# An interpreter that is not instrumented cannot load a Python module built
# with sanitizers, so the Python package is left out of these builds.
common="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONGESTION_BUILD_PYTHON=OFF"
# The install tests build and load projects without the sanitizer flags
# against the instrumented library; they run in the plain build (make test).
excluded="install_and_consume|consume_as_subdirectory"

if [ "$what" = address ] || [ "$what" = all ]; then
    cmake -S . -B build-asan $common -DCONGESTION_SANITIZE=address,undefined
    cmake --build build-asan -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1 \
    LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j "$jobs" -E "$excluded"
fi

if [ "$what" = thread ] || [ "$what" = all ]; then
    cmake -S . -B build-tsan $common -DCONGESTION_SANITIZE=thread
    cmake --build build-tsan -j "$jobs"
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/scripts/tsan.supp" \
        ctest --test-dir build-tsan --output-on-failure -j "$jobs" -E "$excluded"
fi
