#!/bin/sh
# Builds the libFuzzer harness of the design reader with Debian's clang and
# runs it for a bounded time on seeds made from the bundled design. A crash,
# a leak, a sanitizer report or a harness check that fails the run leaves
# the input in build-fuzz/fuzz-artifacts/ and makes this script fail.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs=$(nproc 2>/dev/null || echo 2)
build=build-fuzz
design=data/picorv32_ex
# Far above what the reader needs; an input that makes it hold more is a bug.
rss_limit_mb=2048
# Seconds one input may take; the whole bundled nets.txt takes milliseconds.
input_timeout=10

scripts/install-deps.sh fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCONGESTION_BUILD_FUZZERS=ON -DCONGESTION_BUILD_TESTS=OFF -DCONGESTION_BUILD_TOOLS=OFF \
    -DCONGESTION_BUILD_PYTHON=OFF
cmake --build "$build" -j "$jobs" --target fuzz_design_reader

# Seeds: the selector byte (0 tiles.txt, 1 nets.txt, 2 routed.txt, 3
# routed.txt against the bundled grid in the directional form) and the bundled
# file, whole and cut after a few lines, plus small valid files: a 3 x 2
# corner of the grid in both forms, the first three nets, and the routed
# usage in the directional form.
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/fuzz-corpus" "$build/fuzz-artifacts"
selector=0
for file in tiles nets routed; do
    { printf "\\00$selector"; cat "$design/$file.txt"; } >"$seeds/$file-whole"
    for lines in 1 2 3 10 100; do
        { printf "\\00$selector"; head -n "$lines" "$design/$file.txt"; } >"$seeds/$file-head-$lines"
    done
    selector=$((selector + 1))
done
{
    printf '\000tiles 3 2\n'
    sed -n 2p "$design/tiles.txt"
    awk 'NR > 2 && $1 < 3 && $2 < 2' "$design/tiles.txt"
} >"$seeds/tiles-corner"
{
    printf '\000tiles 3 2 directional\n# x y kind right left up down lab_in\n'
    awk 'NR > 2 && $1 < 3 && $2 < 2 { print $1, $2, $3, $4 + $5, $4 + $5, $6 + $7, $6 + $7, $8 }' "$design/tiles.txt"
} >"$seeds/tiles-corner-directional"
{
    printf '\001nets 3 34 34\n'
    sed -n '2,5p' "$design/nets.txt"
} >"$seeds/nets-three"
{
    printf '\003routed 34 34 directional\n# x y right left up down lab_in\n'
    awk 'NR > 2 { print $1, $2, $5, $4, $8, $9, $16 }' "$design/routed.txt"
} >"$seeds/routed-directional"

UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/fuzz_design_reader" -max_total_time="$seconds" -rss_limit_mb="$rss_limit_mb" \
    -timeout="$input_timeout" -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" \
    "$build/fuzz-corpus" "$seeds"
