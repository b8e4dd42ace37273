#!/bin/sh
# Fails when the shared library exports anything but the members of
# CONGESTION and operator<< for CONGESTION::LOC.
set -eu
lib="$1"
symbols=$(nm -DC --defined-only "$lib" | awk '$2 ~ /^[TWVBDRtw]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }')
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }
unexpected=$(printf '%s\n' "$symbols" \
    | grep -v '^CONGESTION::' \
    | grep -v '^operator<<(std::ostream&, CONGESTION::LOC const&)$' \
    | grep -v '^_init$' | grep -v '^_fini$' || true)
if [ -n "$unexpected" ]; then
    echo "unexpected exported symbols:"
    printf '%s\n' "$unexpected"
    exit 1
fi
for hidden in CONGESTION_IMPL GRID_2D spread_demand_by_supply smear_demand_uniformly build_down_left_sum; do
    if printf '%s\n' "$symbols" | grep -q "$hidden"; then
        echo "internal name exported: $hidden"
        exit 1
    fi
done
count=$(printf '%s\n' "$symbols" | grep -c '^CONGESTION::\|^operator<<' || true)
echo "exported entry points: $count"
