#!/bin/sh
# Installs the Debian packages that the named targets need, when any is
# missing; without a target, those of every target.
# Usage: scripts/install-deps.sh [--list] [run|test|bench|sanitize|fuzz|flow ...] [extra package ...]
#   --list    print the targets' packages on one line and install nothing
#   run       the library and the estimator tool (make run)
#   test      run, GoogleTest, and the Python package with pytest (make test)
#   bench     run and Google Benchmark (make bench)
#   sanitize  run, GoogleTest, and numpy for the scripts' tests (scripts/sanitize.sh)
#   fuzz      the design reader's fuzzer, built by clang (scripts/fuzz.sh)
#   flow      the open flows that congestion-import runs (yosys,
#             nextpnr-ice40 and icestorm's chip databases, which
#             fpga-icestorm only recommends; nextpnr-generic for
#             --arch generic); --flow means the same
set -eu
list=
if [ "${1:-}" = --list ]; then
    list=yes
    shift
fi
library="cmake make g++ libtbb-dev libboost-dev"
tool="libboost-program-options-dev nlohmann-json3-dev libpng-dev libcairo2-dev fonts-dejavu-core pkg-config"
python="python3-dev python3-numpy python3-pybind11 pybind11-dev python3-pytest"
[ $# -eq 0 ] && set -- run test bench sanitize fuzz
packages=""
for word in "$@"; do
    case "$word" in
        run) packages="$packages $library $tool" ;;
        test) packages="$packages $library $tool libgtest-dev $python" ;;
        bench) packages="$packages $library $tool libbenchmark-dev" ;;
        sanitize) packages="$packages $library $tool libgtest-dev python3 python3-numpy" ;;
        fuzz) packages="$packages cmake make libtbb-dev libboost-dev clang-14 libclang-rt-14-dev" ;;
        flow|--flow) packages="$packages python3 yosys nextpnr-ice40 nextpnr-generic fpga-icestorm fpga-icestorm-chipdb" ;;
        *) packages="$packages $word" ;;
    esac
done
if [ -n "$list" ]; then
    echo $packages | tr ' ' '\n' | awk '!seen[$0]++' | tr '\n' ' ' | sed 's/ $//'
    echo
    exit 0
fi
missing=""
for package in $packages; do
    case " $missing " in *" $package "*) continue ;; esac
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
# apt's progress goes to a log that is shown only when it fails.
log=$(mktemp)
if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
        $sudo apt-get install -y -qq --no-install-recommends $missing; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "installing$missing failed (apt-get's output above)" >&2
    exit 1
fi
rm -f "$log"
