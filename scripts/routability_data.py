#!/usr/bin/env python3
"""Makes the routability data: imports every placement of
data/routability/placements.csv and finds its minimum channel width.

Usage: scripts/routability_data.py [--data DIR] [--work DIR] [--tools DIR] [NAME ...]

For each placement (or only the NAMEs given), in the file's order:
  1. congestion-import of examples/NETLIST/NETLIST.v with the row's top,
     parameters (--define), grid and seed onto the generic architecture with
     its default slices and channel, into WORK/NAME (skipped when there);
  2. scripts/min_channel_width.py (blind bisection), its rows appended to
     DIR/channels.csv (skipped when the file has rows of the placement); a
     placement of any set but calibration (test, holdout) also gets the
     channels W_min - 3 .. W_min + 3, which its classification needs;
  3. the import's tiles.txt, nets.txt and meta.txt copied into
     DIR/designs/NAME, and tiles.txt, routed.txt and meta.txt of its
     re-route at W_min into DIR/designs/NAME-wmin.
The work folder keeps the synthesized netlists and placements that
re-routing needs; the data folder keeps only what the figures need.
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
# The import's placement on its own channel, and the router's usage at W_min
# with that channel's supply (its nets.txt is the import's placement again).
KEPT_FILES = ("tiles.txt", "nets.txt", "meta.txt")
KEPT_WMIN_FILES = ("tiles.txt", "routed.txt", "meta.txt")
# The importer's statuses of a folder written: routed, or placed with its
# routing stopped at the iteration bound (the search re-routes it anyway).
IMPORTED = (0, 4)
AROUND = 3


def run(command, log):
    print("+ " + " ".join(command), file=log, flush=True)
    return subprocess.run(command, stdout=log, stderr=subprocess.STDOUT).returncode


def has_rows(channels, name):
    if not os.path.exists(channels):
        return False
    with open(channels) as rows:
        return any(row["folder"] == name and row["search"] == "blind" for row in csv.DictReader(rows))


def copy_small(source, target, names):
    os.makedirs(target, exist_ok=True)
    for name in names:
        if os.path.exists(os.path.join(source, name)):
            shutil.copyfile(os.path.join(source, name), os.path.join(target, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--data", default=os.path.join(ROOT, "data", "routability"))
    parser.add_argument("--work", default=os.path.join(ROOT, "out", "routability"))
    parser.add_argument("--tools", default=os.path.join(ROOT, "build", "tools"))
    parser.add_argument("--imports-only", action="store_true", help="import, and search no channel")
    args = parser.parse_args()
    channels = os.path.join(args.data, "channels.csv")
    with open(os.path.join(args.data, "placements.csv")) as rows:
        placements = list(csv.DictReader(rows))
    os.makedirs(args.work, exist_ok=True)
    log = sys.stdout
    for p in placements:
        name = p["placement"]
        if args.names and name not in args.names:
            continue
        folder = os.path.join(args.work, name)
        if not os.path.exists(os.path.join(folder, "meta.txt")):
            command = [os.path.join(args.tools, "congestion-import"),
                       os.path.join(ROOT, "examples", p["netlist"], p["netlist"] + ".v"), "--top", p["netlist"],
                       "--arch", "generic", "--grid", p["grid"], "--seed", p["seed"], "--out", folder, "--quiet"]
            for define in p["parameters"].split():
                command += ["--define", define]
            status = run(command, log)
            if status not in IMPORTED:
                print("%s: the import ended with status %d" % (name, status), file=log, flush=True)
                continue
        if args.imports_only:
            continue
        if not has_rows(channels, name):
            command = [sys.executable, os.path.join(ROOT, "scripts", "min_channel_width.py"), folder, "--csv",
                       channels, "--tools", args.tools, "--keep-min", folder + "-wmin"]
            if p["set"] != "calibration":
                command += ["--around", str(AROUND)]
            if run(command, log) != 0:
                print("%s: the search failed" % name, file=log, flush=True)
                continue
        copy_small(folder, os.path.join(args.data, "designs", name), KEPT_FILES)
        copy_small(folder + "-wmin", os.path.join(args.data, "designs", name + "-wmin"), KEPT_WMIN_FILES)


if __name__ == "__main__":
    main()
