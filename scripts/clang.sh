#!/bin/sh
# Builds the whole tree with clang, benchmarks included (compiled, not run),
# and runs every test. The results are fixed bit for bit, so a second
# compiler that agrees with the first is a real check.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
scripts/install-deps.sh test bench clang-14
CC=clang-14 CXX=clang++-14 cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DCONGESTION_BUILD_BENCHMARKS=ON
cmake --build build-clang -j "$jobs"
ctest --test-dir build-clang --output-on-failure -j "$jobs"
