#!/usr/bin/env python3
# Checks a design folder written by congestion-import against what the format promises.
"""Usage: check_import.py DIR DEVICE ESTIMATE_TOOL

The estimate tool reads every file (its reader refuses a box that is not the
pins' box and routed usage above the supply); this script adds the checks the
reader does not make: every pin on a tile that is not empty, tiles.txt equal
to the reference grid of the device, and, on a routed design, the tool's
all-wires estimate correlating with the routed usage. A placed-only design
must hold unknown routed columns and be refused --wirelength oracle."""

import filecmp
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REFERENCE_TILES = {
    "hx1k": os.path.join(HERE, "expected", "tiles-hx1k.txt"),
    "hx8k": os.path.join(HERE, "..", "..", "data", "picorv32_ex", "tiles.txt"),
    "up5k": os.path.join(HERE, "expected", "tiles-up5k.txt"),
}
MIN_ALL_WIRES_PEARSON = 0.8
UNKNOWN = -1


def read_records(path):
    with open(path) as text:
        return [line.split() for line in text.read().splitlines()[2:]]


def read_meta(folder):
    """meta.txt as {key: value}."""
    with open(os.path.join(folder, "meta.txt")) as text:
        return dict(line.rstrip("\n").partition(" ")[::2] for line in text)


def get_placed_nets(folder):
    """nets.txt but for what only routing knows (flag 4 and the routed columns)."""
    rows = read_records(os.path.join(folder, "nets.txt"))
    return [row[:2] + [str(int(row[2]) & 3)] + row[3:8] + row[11:] for row in rows]


def get_differing(first, second, names):
    """The files of `names` whose bytes differ between the folders first and second."""
    return [name for name in names if not filecmp.cmp(os.path.join(first, name), os.path.join(second, name),
                                                      shallow=False)]


def check_folder(folder, device, tool):
    """The faults found, as sentences; empty when the folder is sound."""
    faults = []
    if not filecmp.cmp(os.path.join(folder, "tiles.txt"), REFERENCE_TILES[device], shallow=False):
        faults.append("tiles.txt differs from the reference grid of %s" % device)
    kinds = {(int(r[0]), int(r[1])): r[2] for r in read_records(os.path.join(folder, "tiles.txt"))}
    routed = os.path.exists(os.path.join(folder, "routed.txt"))
    for record in read_records(os.path.join(folder, "nets.txt")):
        values = list(map(int, record))
        pins = list(zip(values[11::2], values[12::2]))
        empty = [pin for pin in pins if kinds.get(pin, "empty") == "empty"]
        if empty:
            faults.append("net %d has a pin on the empty tile %s" % (values[0], empty[0]))
        if (values[8:11] == [UNKNOWN] * 3) == routed:
            faults.append("net %d has routed columns %s in a %s design" %
                          (values[0], values[8:11], "routed" if routed else "placed-only"))
    faults += check_estimate(folder, tool, routed)
    if not routed:
        oracle = subprocess.run([tool, folder, "--wirelength", "oracle"], capture_output=True, text=True)
        if oracle.returncode == 0 or "was placed and not routed" not in oracle.stderr:
            faults.append("the estimate tool did not refuse --wirelength oracle on a placed-only design")
    return faults


def check_estimate(folder, tool, routed):
    """The estimate tool must read the folder and, on a routed design, its
    all-wires estimate correlate with the routed usage."""
    with tempfile.TemporaryDirectory() as work:
        report_path = os.path.join(work, "report.json")
        result = subprocess.run([tool, folder, "--json", report_path], capture_output=True, text=True)
        if result.returncode != 0:
            return ["the estimate tool refused the folder: " + result.stderr.strip()]
        with open(report_path) as report_file:
            accuracy = json.load(report_file)["accuracy"]
    if not routed:
        return []
    pearson = [row["estimate_figures"]["pearson"] for row in accuracy["rows"] if row["estimate"] == "all wires"]
    if not pearson[0] > MIN_ALL_WIRES_PEARSON:
        return ["the all-wires Pearson correlation %s is not above %s" % (pearson[0], MIN_ALL_WIRES_PEARSON)]
    return []


def main(argv):
    faults = check_folder(*argv)
    for fault in faults:
        print("check_import: %s: %s." % (argv[0], fault), file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
