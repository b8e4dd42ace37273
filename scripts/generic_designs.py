#!/usr/bin/env python3
# Imports the two Verilog examples onto generic devices of several sizes: the data set of generic design folders.
"""Usage: generic_designs.py IMPORT_TOOL OUT [--sizes 20,40,60,80] [--slices 4] [--tracks 1:12,4:8]

For every size N, examples/fir_mac (wide datapaths) and examples/lfsr_mesh
(long connections) are sized by their parameter to fill about FILL of the
slices of an N x N device and imported with `congestion-import --arch
generic` into OUT/fir_mac_N and OUT/lfsr_mesh_N; a table of what each became
is printed at the end. A design that does not route within ROUTE_ITERATIONS
router iterations has its placement routed again on a channel half as wide
again (congestion-import --reroute), up to WIDENINGS times; meta.txt then
names the narrower folder (rerouted_from), which is removed."""

import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
FILL = 0.45
ROUTE_ITERATIONS = 40
WIDENINGS = 3
# (name, parameter, slices per parameter step at LUT size 4): measured on the synthesized examples.
EXAMPLES = (("fir_mac", "TAPS", 215.0), ("lfsr_mesh", "UNITS", 48.0))


def read_meta(folder):
    with open(os.path.join(folder, "meta.txt")) as text:
        return dict(line.rstrip("\n").partition(" ")[::2] for line in text)


def widen(tracks):
    return ",".join("%s:%d" % (length, (3 * int(count) + 1) // 2)
                    for length, count in (item.split(":") for item in tracks.split(",")))


def run(command):
    result = subprocess.run(command + ["--quiet", "--max-route-iterations", str(ROUTE_ITERATIONS)])
    if result.returncode not in (0, 4):
        sys.exit(result.returncode)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("out")
    parser.add_argument("--sizes", default="20,40,60,80")
    parser.add_argument("--slices", type=int, default=4)
    parser.add_argument("--tracks", default="1:12,4:8")
    arguments = parser.parse_args(argv)
    rows = []
    for size in (int(value) for value in arguments.sizes.split(",")):
        slices = FILL * (size - 2) ** 2 * arguments.slices
        for name, parameter, per_step in EXAMPLES:
            value = max(2, round(slices / per_step))
            folder = os.path.join(arguments.out, "%s_%d" % (name, size))
            tracks = arguments.tracks
            started = time.time()
            run([arguments.tool, os.path.join(ROOT, "examples", name, name + ".v"), "--top", name,
                 "--define", "%s=%d" % (parameter, value), "--arch", "generic", "--grid", "%dx%d" % (size, size),
                 "--slices", str(arguments.slices), "--tracks", tracks, "--out", folder])
            for _ in range(WIDENINGS):
                if read_meta(folder)["routed"] == "yes":
                    break
                narrow = "%s-%s" % (folder, tracks.replace(":", "x").replace(",", "-"))
                os.replace(folder, narrow)
                tracks = widen(tracks)
                run([arguments.tool, "--reroute", narrow, "--tracks", tracks, "--out", folder])
                shutil.rmtree(narrow)
            meta = read_meta(folder)
            rows.append((folder, "%s=%d" % (parameter, value), meta["util.GENERIC_SLICE"].split()[0], meta["nets"],
                         tracks, meta["routed"], meta["route_iterations"], "%.0f" % (time.time() - started)))
    form = "%-28s %-10s %7s %7s %-12s %6s %10s %6s"
    print(form % ("folder", "size", "slices", "nets", "tracks", "routed", "iterations", "s"))
    for row in rows:
        print(form % row)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
