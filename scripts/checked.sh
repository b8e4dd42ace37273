#!/bin/sh
# Builds the whole tree as the checked build (CONGESTION_CHECKED: the checks
# a placer developer turns on) and runs every test: each death test must
# pass as in the default build, and the checks must hold on every input the
# tests give.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
scripts/install-deps.sh test
cmake -S . -B build-checked -DCMAKE_BUILD_TYPE=Release -DCONGESTION_CHECKED=ON
cmake --build build-checked -j "$jobs"
# Left out: the install tests, which build the library again without the
# option, and the importer's flows, which never call the library, to keep
# the stage short.
ctest --test-dir build-checked --output-on-failure -j "$jobs" \
    -E "install_and_consume|consume_as_subdirectory|^import$"
