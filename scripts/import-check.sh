#!/bin/sh
# Installs the open flows, imports the example design with the iCE40 one and
# checks the folder: every file valid for the estimate tool's reader, the
# format's invariants, the device grid, and the estimate's agreement with the
# routed usage. Then imports the other example onto a generic 20 x 20 device
# and checks it against nextpnr's own record of the routing (every routed
# wire counted once, the supply of every logic tile the track count per
# direction) and the estimate; refines that placement with congestion-place
# and routes the refined folder on the same channel, checked the same way.
# Then runs the importer's own tests (among them a small design of each kind
# and a BLIF circuit on generic devices), which must not be skipped here.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
OUT=${OUT:-out/import-check}
scripts/install-deps.sh
scripts/install-deps.sh --flow
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD" -j "$(nproc)" --target congestion-estimate --target congestion-place
rm -rf "$OUT" "$OUT-generic" "$OUT-refined" "$OUT-refined-routed"
"$BUILD"/tools/congestion-import examples/lfsr_mesh/lfsr_mesh.v --top lfsr_mesh --device hx1k --out "$OUT"
tests/import/check_import.py "$OUT" hx1k "$BUILD"/tools/congestion-estimate
"$BUILD"/tools/congestion-import examples/fir_mac/fir_mac.v --top fir_mac --define TAPS=3 --arch generic \
    --grid 20x20 --out "$OUT-generic" --nextpnr-arg=--write="$OUT-generic.json"
tests/import/check_generic.py "$OUT-generic" "$OUT-generic.json" "$BUILD"/tools/congestion-estimate
"$BUILD"/tools/congestion-place "$OUT-generic" --out "$OUT-refined"
"$BUILD"/tools/congestion-import --reroute "$OUT-refined" --tracks 1:12,4:8 --out "$OUT-refined-routed" \
    --nextpnr-arg=--write="$OUT-refined-routed.json"
tests/import/check_generic.py "$OUT-refined-routed" "$OUT-refined-routed.json" "$BUILD"/tools/congestion-estimate
python3 tests/import/test_import.py "$BUILD"/tools/congestion-import "$BUILD"/tools/congestion-estimate
