#!/usr/bin/env python3
"""Makes the routability data: imports every placement of
data/routability/placements.csv and finds its minimum channel width.

Usage: scripts/routability_data.py [--data DIR] [--work DIR] [--tools DIR] [NAME ...]

For each placement (or only the NAMEs given), in the file's order:
  1. congestion-import of the row's source (examples/NETLIST/NETLIST.v with
     its top and parameters (--define) when the row names none, else the
     file it names, e.g. a BLIF circuit) with the row's grid (the importer's
     default grid when empty), seed and architecture options (the generic
     architecture's defaults when empty) into WORK/NAME (skipped when there);
  2. scripts/min_channel_width.py (blind bisection), its rows appended to
     DIR/channels.csv (skipped when the file has rows of the placement); a
     placement of any set but calibration (test, holdout) also gets the
     channels W_min - 3 .. W_min + 3, which its classification needs;
  3. the import's tiles.txt, nets.txt and meta.txt copied into
     DIR/designs/NAME, and tiles.txt, routed.txt and meta.txt of its
     re-route at W_min into DIR/designs/NAME-wmin, when the placement is on
     the default architecture and its nets.txt small enough to keep
     (KEPT_NETS_BYTES); any other placement stays in WORK/NAME and
     WORK/NAME-wmin, which the accuracy script reads
     instead, and which this script makes again from the recorded channels
     (an import and one re-route at W_min, no search).
The work folder keeps the synthesized netlists and placements that
re-routing needs; the data folder keeps only what the figures need.
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys

import min_channel_width

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
# The import's placement on its own channel, and the router's usage at W_min
# with that channel's supply (its nets.txt is the import's placement again).
KEPT_FILES = ("tiles.txt", "nets.txt", "meta.txt")
KEPT_WMIN_FILES = ("tiles.txt", "routed.txt", "meta.txt")
# The importer's statuses of a folder written: routed, or placed with its
# routing stopped at the iteration bound (the search re-routes it anyway).
IMPORTED = (0, 4)
AROUND = 3
# The largest nets.txt whose placement is kept in the data folder: the
# larger circuits, and every placement on another architecture, are made
# again from their rows instead.
KEPT_NETS_BYTES = 160 * 1024


def run(command, log):
    print("+ " + " ".join(command), file=log, flush=True)
    return subprocess.run(command, stdout=log, stderr=subprocess.STDOUT).returncode


def get_w_min(channels, name):
    """The placement's W_min from its blind search's rows (or its guided
    search's); None before the search, 0 when none of them routed."""
    if not os.path.exists(channels):
        return None
    with open(channels) as rows:
        rows = [row for row in csv.DictReader(rows) if row["folder"] == name]
    searched = [row for row in rows if row["search"] == "blind"] or [row for row in rows if row["search"] == "guess"]
    if not searched:
        return None
    return min((int(row["w"]) for row in searched if row["outcome"] == "routed"), default=0)


def get_import_command(tools, p, folder):
    """The importer's command line of a row of placements.csv."""
    if p.get("source"):
        command = [os.path.join(tools, "congestion-import"), os.path.normpath(os.path.join(ROOT, p["source"]))]
    else:
        command = [os.path.join(tools, "congestion-import"),
                   os.path.join(ROOT, "examples", p["netlist"], p["netlist"] + ".v"), "--top", p["netlist"]]
    command += ["--arch", "generic", "--seed", p["seed"], "--out", folder, "--quiet"]
    if p["grid"]:
        command += ["--grid", p["grid"]]
    command += p.get("arch", "").split()
    for define in p["parameters"].split():
        command += ["--define", define]
    return command


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
    parser.add_argument("--guess-from-estimate", action="store_true",
                        help="search from the estimate's prediction instead of blind (for the largest circuits, "
                        "whose blind search spends most of its time on channels far below W_min)")
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
            status = run(get_import_command(args.tools, p, folder), log)
            if status not in IMPORTED:
                print("%s: the import ended with status %d" % (name, status), file=log, flush=True)
                continue
        if args.imports_only:
            continue
        w_min = get_w_min(channels, name)
        if w_min is None:
            command = [sys.executable, os.path.join(ROOT, "scripts", "min_channel_width.py"), folder, "--csv",
                       channels, "--tools", args.tools, "--keep-min", folder + "-wmin"]
            if p["set"] != "calibration":
                command += ["--around", str(AROUND)]
            if args.guess_from_estimate:
                command += ["--guess-from-estimate"]
            if run(command, log) != 0:
                print("%s: the search failed" % name, file=log, flush=True)
                continue
        elif w_min and not os.path.exists(os.path.join(folder + "-wmin", "meta.txt")):
            classes = min_channel_width.parse_tracks(min_channel_width.read_meta(folder)["tracks"])
            command = [os.path.join(args.tools, "congestion-import"), "--reroute", folder, "--tracks",
                       min_channel_width.format_tracks(min_channel_width.scale_tracks(classes, w_min)), "--out",
                       folder + "-wmin", "--quiet"]
            if run(command, log) != 0:
                print("%s: the re-route at W_min %d failed" % (name, w_min), file=log, flush=True)
                continue
        if not p.get("arch") and os.path.getsize(os.path.join(folder, "nets.txt")) <= KEPT_NETS_BYTES:
            copy_small(folder, os.path.join(args.data, "designs", name), KEPT_FILES)
            copy_small(folder + "-wmin", os.path.join(args.data, "designs", name + "-wmin"), KEPT_WMIN_FILES)


if __name__ == "__main__":
    main()
