#!/usr/bin/env python3
# Imports the two Verilog examples onto generic devices of several sizes: the data set of generic design folders.
"""Usage: generic_designs.py IMPORT_TOOL OUT [--sizes 20,40,60,80] [--slices 4] [--tracks 1:12,4:8]

For every size N, examples/fir_mac (wide datapaths) and examples/lfsr_mesh
(long connections) are sized by their parameter to fill about FILL of the
slices of an N x N device and imported with `congestion-import --arch
generic` into OUT/fir_mac_N and OUT/lfsr_mesh_N; a table of what each became
is printed at the end. A design that does not route within the importer's
iteration bound is kept placed (meta.txt: routed no)."""

import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
FILL = 0.45
# (name, parameter, slices per parameter step at LUT size 4): measured on the synthesized examples.
EXAMPLES = (("fir_mac", "TAPS", 215.0), ("lfsr_mesh", "UNITS", 48.0))


def read_meta(folder):
    with open(os.path.join(folder, "meta.txt")) as text:
        return dict(line.rstrip("\n").partition(" ")[::2] for line in text)


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
            command = [arguments.tool, os.path.join(ROOT, "examples", name, name + ".v"), "--top", name,
                       "--define", "%s=%d" % (parameter, value), "--arch", "generic", "--grid", "%dx%d" % (size, size),
                       "--slices", str(arguments.slices), "--tracks", arguments.tracks, "--out", folder, "--quiet"]
            started = time.time()
            result = subprocess.run(command)
            if result.returncode not in (0, 4):
                return result.returncode
            meta = read_meta(folder)
            rows.append((folder, "%s=%d" % (parameter, value), meta["util.GENERIC_SLICE"].split()[0], meta["nets"],
                         meta["routed"], meta["route_iterations"], "%.0f" % (time.time() - started)))
    print("%-28s %-10s %7s %7s %6s %10s %6s" % ("folder", "size", "slices", "nets", "routed", "iterations", "s"))
    for row in rows:
        print("%-28s %-10s %7s %7s %6s %10s %6s" % row)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
