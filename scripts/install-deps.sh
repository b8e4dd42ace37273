#!/bin/sh
# Installs the Debian packages the build needs, when any is missing; with
# --flow, the open iCE40 flow that congestion-import runs instead (yosys,
# nextpnr-ice40 and icestorm's chip databases, which fpga-icestorm only
# recommends).
# Usage: scripts/install-deps.sh [--flow] [extra package ...]
set -eu
if [ "${1:-}" = "--flow" ]; then
    shift
    packages="yosys nextpnr-ice40 fpga-icestorm fpga-icestorm-chipdb $*"
else
    packages="cmake g++ make libtbb-dev libboost-dev libboost-program-options-dev nlohmann-json3-dev libpng-dev libcairo2-dev fonts-dejavu-core pkg-config libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev python3-dev python3-numpy python3-pybind11 pybind11-dev python3-pytest $*"
fi
missing=""
for package in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $package" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
