#!/bin/sh
# Installs the open iCE40 flow, imports the example design with it and checks
# the folder: every file valid for the estimate tool's reader, the format's
# invariants, the device grid, and the estimate's agreement with the routed
# usage. Then runs the importer's own tests, which must not be skipped here.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
OUT=${OUT:-out/import-check}
scripts/install-deps.sh
scripts/install-deps.sh --flow
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD" -j "$(nproc)" --target congestion-estimate
rm -rf "$OUT"
"$BUILD"/tools/congestion-import examples/lfsr_mesh/lfsr_mesh.v --top lfsr_mesh --device hx1k --out "$OUT"
tests/import/check_import.py "$OUT" hx1k "$BUILD"/tools/congestion-estimate
python3 tests/import/test_import.py "$BUILD"/tools/congestion-import "$BUILD"/tools/congestion-estimate
